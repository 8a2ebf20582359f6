#pragma once

#include "platform/exception.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>

// Writing the system's state files and run files so that a full or failing disk,
// a crash or a power loss never leaves half a write behind. Plain POSIX calls, so
// that every failure carries the system's own reason ("No space left on device").

// A file that could not be written: the whole message, and the system's reason
// alone. Errors of particular files derive from it.
class EFileWriteError : public Exception {
public:
    EFileWriteError(QString message, QString reason)
        : Exception(std::move(message)), FReason(std::move(reason)) {}
    // "Не удалось записать файл ", the path, ": " and the reason.
    static EFileWriteError ForFile(const QString& path, const QString& reason);
    const QString& Reason() const { return FReason; }

private:
    QString FReason;
};

// The system's text for an error number ("No space left on device").
QString SystemErrorText(int error);

// The files of the run's directory are never opened through a symbolic link
// (O_NOFOLLOW), so that one planted there cannot make the program write over the
// file it points to. The reason given for a link standing at a file's name, and
// the reason of a failed open: that one for ELOOP, else the system's text.
QString SymbolicLinkReason();
QString OpenErrorText(int error);

// Replaces the file at `path` with `bytes`: they are written to a new temporary
// file beside it (created exclusively, under a name no one can guess, readable by
// the user alone), flushed to the disk and only then renamed over it, so the file
// holds either its old content or the whole new one. On failure the old file
// stays, the temporary file is removed and EFileWriteError is raised. For the
// run's state: the work lists and the journal.
void WriteFileAtomically(const QString& path, const QByteArray& bytes);

// Removes the temporary files that WriteFileAtomically left beside `path` when the
// process ended between creating and renaming one. Only for a file that no other
// process writes meanwhile.
void RemoveStaleTemporaries(const QString& path);

// Replaces the file at `path` with `lines` in the default code page, without a
// byte-order mark, CR LF after every line, the last one too (the saved log and
// selection.txt), as WriteFileAtomically does, with the user's usual file mode.
void WriteTextLinesAtomically(const QString& path, const QStringList& lines);

// Cuts the file at `path` back to `size` bytes when it is longer; raises
// EFileWriteError when that fails or a symbolic link stands there. A missing file
// is left missing.
void CutFileBack(const QString& path, int64_t size);

// The size of the file at `path` in bytes, -1 when there is none.
int64_t FileSize(const QString& path);

// A file that grows only at its end, by whole pieces: a piece that cannot be
// written whole is cut back off at once, so the file always ends where the last
// whole piece ended. Owned and used by one thread at a time.
class TAppendFile {
public:
    TAppendFile() = default;
    TAppendFile(const TAppendFile&) = delete;
    TAppendFile& operator=(const TAppendFile&) = delete;
    ~TAppendFile();

    // Creates the file, which must not exist yet: false when it exists, raises
    // EFileWriteError for any other failure.
    bool CreateNew(const QString& path);
    // Opens an existing file to append to it; raises EFileWriteError. Neither
    // opens a symbolic link.
    void OpenExisting(const QString& path);
    // Writes `bytes` whole at the end or raises EFileWriteError, leaving the file
    // as it was before the call.
    void Append(const QByteArray& bytes);
    // Cuts the file back to `size` bytes (no longer than it is now).
    void CutBack(int64_t size);
    // Hands what was written to the disk itself.
    void Sync();
    void Close();

    bool IsOpen() const { return FHandle >= 0; }
    const QString& Path() const { return FPath; }
    int64_t Size() const { return FSize; }

private:
    // 0 or the error number.
    int Open(const QString& path, int flags);

    int FHandle = -1;
    QString FPath;
    int64_t FSize = 0;
};
