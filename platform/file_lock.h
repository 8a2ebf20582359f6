#pragma once

#include <QString>

#include <cstdint>

// A lock that one process at a time can hold on a file, for as long as it keeps
// the lock object. The system releases it when the holder ends in any way, so a
// killed holder never blocks the next one. The holder writes its process id and
// program name into the file, so that a process refused can name it. The file
// itself stays, readable and writable by its owner alone: a lock is taken only on
// a file of the user's own, since any process that can open the file could hold
// the lock. Owned by one thread.
class TFileLock {
public:
    // Who holds a lock, as the holder wrote it (Pid 0 when it could not be read),
    // and the user who owns the file: by name, else "uid N".
    struct THolder {
        int64_t Pid = 0;
        QString Program;
        QString Owner;
        // The file belongs to another user: the lock was not tried.
        bool OtherOwner = false;
    };

    TFileLock() = default;
    TFileLock(const TFileLock&) = delete;
    TFileLock& operator=(const TFileLock&) = delete;
    ~TFileLock();

    // True when this object now holds the lock on `path` (creating the file when
    // needed). False when another holder has it or another user owns the file:
    // OtherHolder() then names them. Raises EFileWriteError when the file cannot
    // be opened or created, or a symbolic link stands at `path`.
    bool TryLock(const QString& path);
    const THolder& OtherHolder() const { return FOther; }
    void Unlock();

private:
    bool LockOpenedFile(const QString& path);
    void WriteHolder();
    void ReadHolder();

    int FHandle = -1;
    THolder FOther;
};
