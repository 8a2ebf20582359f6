#include "platform/file_lock.h"

#include "platform/durable_file.h"

#include <QByteArray>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int LockFileMode = 0600;

QString UserName(uid_t uid) {
    char buffer[4096];
    struct passwd entry {};
    struct passwd* found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found)
        return QString::fromLocal8Bit(found->pw_name);
    return QStringLiteral("uid %1").arg(uid);
}

} // namespace

TFileLock::~TFileLock() {
    Unlock();
}

// flock belongs to the open file, not to the process: a second lock object in
// the same process is refused like another process would be. A file that another
// user can open is no lock of ours: that user could hold it for ever.
bool TFileLock::TryLock(const QString& path) {
    Unlock();
    FOther = {};
    const QByteArray name = QFile::encodeName(path);
    const int handle =
        ::open(name.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, LockFileMode);
    struct stat status {};
    if (handle < 0) {
        const int error = errno;
        // Another user's file that we may not open still has an owner to name.
        if (error != EACCES || ::lstat(name.constData(), &status) != 0 ||
            status.st_uid == ::geteuid())
            throw EFileWriteError::ForFile(path, OpenErrorText(error));
        FOther = {0, QString(), UserName(status.st_uid), true};
        return false;
    }
    FHandle = handle;
    return LockOpenedFile(path);
}

bool TFileLock::LockOpenedFile(const QString& path) {
    struct stat status {};
    if (::fstat(FHandle, &status) != 0) {
        const int error = errno;
        Unlock();
        throw EFileWriteError::ForFile(path, SystemErrorText(error));
    }
    FOther.Owner = UserName(status.st_uid);
    FOther.OtherOwner = status.st_uid != ::geteuid();
    // A file left by an earlier version was readable by everyone.
    if (!FOther.OtherOwner && (status.st_mode & 07777) != LockFileMode)
        ::fchmod(FHandle, LockFileMode);
    if (!FOther.OtherOwner && ::flock(FHandle, LOCK_EX | LOCK_NB) == 0) {
        WriteHolder();
        return true;
    }
    ReadHolder();
    Unlock();
    return false;
}

void TFileLock::Unlock() {
    if (FHandle < 0)
        return;
    ::close(FHandle); // releases the lock
    FHandle = -1;
}

// Only a help for the message of a refused process: a failure here leaves the
// lock held all the same.
void TFileLock::WriteHolder() {
    const QByteArray text =
        QByteArray::number(qint64(::getpid())) + '\n' + program_invocation_short_name + '\n';
    const bool written = ::ftruncate(FHandle, 0) == 0 &&
                         ::pwrite(FHandle, text.constData(), text.size(), 0) == text.size();
    Q_UNUSED(written)
}

void TFileLock::ReadHolder() {
    char buffer[512];
    const ssize_t size = ::pread(FHandle, buffer, sizeof buffer, 0);
    const QList<QByteArray> lines = QByteArray(buffer, size > 0 ? int(size) : 0).split('\n');
    FOther.Pid = lines.value(0).toLongLong();
    FOther.Program = QString::fromUtf8(lines.value(1));
}
