#pragma once

#include <QMap>
#include <QString>
#include <QTemporaryDir>

// A disk that a test fills while the program runs on it. A small tmpfs mounted on
// the program's directory where the machine allows mounting one; otherwise a
// fault made below the program's writers by the preloaded full_disk_shim. Either
// way the program's writes run out of room part-way and then fail with ENOSPC.
// Description() says which one a test ran. Used on the test's main thread.
class TFullDisk {
public:
    enum class TKind { Tmpfs, Injected };

    // A tmpfs that cannot be mounted falls back to the injected fault.
    explicit TFullDisk(TKind wanted);
    ~TFullDisk();
    TFullDisk(const TFullDisk&) = delete;
    TFullDisk& operator=(const TFullDisk&) = delete;

    // For TScraperDir: makes the empty directory `dir` the disk.
    void Prepare(const QString& dir);
    // The environment the program must run with.
    QMap<QString, QString> Environment() const;
    QString Description() const;

    // Takes all the room but a few bytes, so the next write is cut short.
    void Fill();
    void Free();

private:
    void Mount(const QString& dir);

    TKind FKind;
    QString FDir;
    bool FMounted = false;
    QTemporaryDir FControlDir;
};
