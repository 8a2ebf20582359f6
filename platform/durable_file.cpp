#include "platform/durable_file.h"

#include "platform/text_codec.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace {

[[noreturn]] void RaiseWriteError(const QString& path, int error) {
    throw EFileWriteError::ForFile(path, SystemErrorText(error));
}

// Writes every byte or returns the error number; a short write is retried, so a
// full disk shows as its own error instead of a count that silently falls short.
int WriteAll(int handle, const char* data, int64_t size) {
    while (size > 0) {
        const ssize_t written = ::write(handle, data, size_t(size));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        data += written;
        size -= written;
    }
    return 0;
}

int CloseHandle(int handle) {
    return ::close(handle) == 0 ? 0 : errno;
}

// Makes the rename itself survive a power loss. Some file systems cannot sync a
// directory; the new file is in place either way.
void SyncDirectoryOf(const QByteArray& path) {
    const QByteArray dir = QFile::encodeName(QFileInfo(QFile::decodeName(path)).absolutePath());
    const int handle = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (handle < 0)
        return;
    ::fsync(handle);
    ::close(handle);
}

// Writes and syncs the temporary file; 0 or the error number.
int WriteTemporary(const QByteArray& temporary, const QByteArray& bytes) {
    const int handle =
        ::open(temporary.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (handle < 0)
        return errno;
    int error = WriteAll(handle, bytes.constData(), bytes.size());
    if (error == 0 && ::fsync(handle) != 0)
        error = errno;
    const int closed = CloseHandle(handle);
    return error != 0 ? error : closed;
}

} // namespace

EFileWriteError EFileWriteError::ForFile(const QString& path, const QString& reason) {
    return EFileWriteError(
        QStringLiteral("Не удалось записать файл ") + path + QStringLiteral(": ") + reason, reason);
}

QString SystemErrorText(int error) {
    return QString::fromStdString(std::system_category().message(error));
}

void WriteFileAtomically(const QString& path, const QByteArray& bytes) {
    const QByteArray target = QFile::encodeName(path);
    const QByteArray temporary = target + ".tmp";
    int error = WriteTemporary(temporary, bytes);
    if (error == 0 && ::rename(temporary.constData(), target.constData()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(temporary.constData());
        RaiseWriteError(path, error);
    }
    SyncDirectoryOf(target);
}

void WriteTextLinesAtomically(const QString& path, const QStringList& lines) {
    QByteArray bytes;
    for (const QString& line : lines)
        bytes += EncodeDefaultCodePage(line) + "\r\n";
    WriteFileAtomically(path, bytes);
}

void CutFileBack(const QString& path, int64_t size) {
    const int64_t now = FileSize(path);
    if (now <= size)
        return;
    if (::truncate(QFile::encodeName(path).constData(), off_t(size)) != 0)
        RaiseWriteError(path, errno);
}

int64_t FileSize(const QString& path) {
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return -1;
    return int64_t(status.st_size);
}

TAppendFile::~TAppendFile() {
    Close();
}

bool TAppendFile::CreateNew(const QString& path) {
    const int error = Open(path, O_CREAT | O_EXCL);
    if (error == EEXIST)
        return false;
    if (error != 0)
        RaiseWriteError(path, error);
    return true;
}

void TAppendFile::OpenExisting(const QString& path) {
    if (const int error = Open(path, 0); error != 0)
        RaiseWriteError(path, error);
}

int TAppendFile::Open(const QString& path, int flags) {
    Close();
    const int handle =
        ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CLOEXEC | flags, 0644);
    if (handle < 0)
        return errno;
    struct stat status {};
    if (::fstat(handle, &status) != 0) {
        const int error = errno;
        ::close(handle);
        return error;
    }
    FHandle = handle;
    FPath = path;
    FSize = int64_t(status.st_size);
    return 0;
}

void TAppendFile::Append(const QByteArray& bytes) {
    if (!IsOpen())
        RaiseWriteError(FPath, EBADF);
    const int error = WriteAll(FHandle, bytes.constData(), bytes.size());
    if (error == 0) {
        FSize += bytes.size();
        return;
    }
    // What did get written is cut off again, so the file ends with a whole piece.
    ::ftruncate(FHandle, off_t(FSize));
    RaiseWriteError(FPath, error);
}

void TAppendFile::CutBack(int64_t size) {
    if (!IsOpen() || size >= FSize)
        return;
    if (::ftruncate(FHandle, off_t(size)) != 0)
        RaiseWriteError(FPath, errno);
    FSize = size;
}

void TAppendFile::Sync() {
    if (IsOpen() && ::fdatasync(FHandle) != 0)
        RaiseWriteError(FPath, errno);
}

void TAppendFile::Close() {
    if (!IsOpen())
        return;
    ::close(FHandle);
    FHandle = -1;
}
