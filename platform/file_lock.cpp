#include "platform/file_lock.h"

#include "platform/durable_file.h"

#include <QByteArray>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

TFileLock::~TFileLock() {
    Unlock();
}

// flock belongs to the open file, not to the process: a second lock object in
// the same process is refused like another process would be.
bool TFileLock::TryLock(const QString& path) {
    Unlock();
    const int handle =
        ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (handle < 0)
        throw EFileWriteError::ForFile(path, SystemErrorText(errno));
    FHandle = handle;
    if (::flock(handle, LOCK_EX | LOCK_NB) == 0) {
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
