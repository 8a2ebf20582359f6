#include "platform/durable_file.h"

#include "platform/text_codec.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace {

// The run's state is the user's alone; the files a user reads (the saved log,
// selection.txt) get the user's usual mode.
constexpr int PrivateFileMode = 0600;
constexpr int SharedFileMode = 0644;

// The random part of a temporary file's name, and how many names are tried.
constexpr int TemporarySuffixLength = 12;
constexpr int TemporaryNameAttempts = 100;
const QByteArray TemporaryTag = ".tmp";

[[noreturn]] void RaiseWriteError(const QString& path, int error) {
    throw EFileWriteError::ForFile(path, OpenErrorText(error));
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

// "<target>.tmp-" and random letters: nothing planted in the directory beforehand
// can stand at a name no one knows.
QByteArray TemporaryName(const QByteArray& target) {
    static const char Letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    QByteArray name = target + TemporaryTag + '-';
    for (int i = 0; i < TemporarySuffixLength; ++i)
        name += Letters[QRandomGenerator::system()->bounded(int(sizeof Letters) - 1)];
    return name;
}

// Creates a new temporary file beside `target` and names it in `temporary`; the
// handle, or -1 with errno set. O_EXCL never opens what already stands at the
// name, a link included.
int CreateTemporary(const QByteArray& target, int mode, QByteArray& temporary) {
    for (int attempt = 0; attempt < TemporaryNameAttempts; ++attempt) {
        const QByteArray name = TemporaryName(target);
        const int handle =
            ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (handle >= 0)
            temporary = name;
        if (handle >= 0 || errno != EEXIST)
            return handle;
    }
    return -1;
}

// Writes and syncs a new temporary file beside `target`; 0 or the error number.
int WriteTemporary(const QByteArray& target, const QByteArray& bytes, int mode,
                   QByteArray& temporary) {
    const int handle = CreateTemporary(target, mode, temporary);
    if (handle < 0)
        return errno;
    int error = WriteAll(handle, bytes.constData(), bytes.size());
    if (error == 0 && ::fsync(handle) != 0)
        error = errno;
    const int closed = CloseHandle(handle);
    return error != 0 ? error : closed;
}

void ReplaceFile(const QString& path, const QByteArray& bytes, int mode) {
    const QByteArray target = QFile::encodeName(path);
    QByteArray temporary;
    int error = WriteTemporary(target, bytes, mode, temporary);
    if (error == 0 && ::rename(temporary.constData(), target.constData()) != 0)
        error = errno;
    if (error != 0) {
        if (!temporary.isEmpty())
            ::unlink(temporary.constData());
        RaiseWriteError(path, error);
    }
    SyncDirectoryOf(target);
}

// The fixed name earlier versions wrote beside `prefix`'s file, or one TemporaryName makes.
bool IsTemporaryName(const QString& name, const QString& prefix) {
    return name == prefix || (name.size() == prefix.size() + 1 + TemporarySuffixLength &&
                              name.startsWith(prefix + QLatin1Char('-')));
}

} // namespace

EFileWriteError EFileWriteError::ForFile(const QString& path, const QString& reason) {
    return EFileWriteError(
        QStringLiteral("Не удалось записать файл ") + path + QStringLiteral(": ") + reason, reason);
}

QString SystemErrorText(int error) {
    return QString::fromStdString(std::system_category().message(error));
}

QString SymbolicLinkReason() {
    return QStringLiteral("вместо файла стоит символическая ссылка; удалите её");
}

QString OpenErrorText(int error) {
    return error == ELOOP ? SymbolicLinkReason() : SystemErrorText(error);
}

void WriteFileAtomically(const QString& path, const QByteArray& bytes) {
    ReplaceFile(path, bytes, PrivateFileMode);
}

void RemoveStaleTemporaries(const QString& path) {
    const QFileInfo target(path);
    const QString prefix = target.fileName() + QString::fromLatin1(TemporaryTag);
    const QDir dir = target.absoluteDir();
    const QStringList names =
        dir.entryList({prefix + QLatin1Char('*')}, QDir::AllEntries | QDir::System | QDir::Hidden);
    for (const QString& name : names)
        if (IsTemporaryName(name, prefix))
            ::unlink(QFile::encodeName(dir.filePath(name)).constData());
}

void WriteTextLinesAtomically(const QString& path, const QStringList& lines) {
    QByteArray bytes;
    for (const QString& line : lines)
        bytes += EncodeDefaultCodePage(line) + "\r\n";
    ReplaceFile(path, bytes, SharedFileMode);
}

// Cut through a handle opened without following a link: truncate() would cut
// whatever file a link standing there points to.
void CutFileBack(const QString& path, int64_t size) {
    if (FileSize(path) <= size)
        return;
    const int handle =
        ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (handle < 0)
        RaiseWriteError(path, errno);
    const int error = ::ftruncate(handle, off_t(size)) == 0 ? 0 : errno;
    ::close(handle);
    if (error != 0)
        RaiseWriteError(path, error);
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
    const int handle = ::open(QFile::encodeName(path).constData(),
                              O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC | flags, SharedFileMode);
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
