#include "platform/file_lock.h"

#include "tests/qt_print.h"
#include "tests/support/test_files.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The lock belongs to its object: a second one, even in the same process, is
// refused and learns who holds it; once let go, it can be taken.
TEST(TFileLock, OneHolderAtATimeNamedToTheOthers) {
    QTemporaryDir dir;
    const QString path = dir.filePath("run.lock");
    TFileLock first, second;
    ASSERT_TRUE(first.TryLock(path));
    EXPECT_FALSE(second.TryLock(path));
    EXPECT_EQ(second.OtherHolder().Pid, int64_t(::getpid()));
    EXPECT_FALSE(second.OtherHolder().Program.isEmpty());
    EXPECT_EQ(second.OtherHolder().Owner, QString::fromLocal8Bit(::getpwuid(::geteuid())->pw_name));
    first.Unlock();
    EXPECT_TRUE(second.TryLock(path));
}

int ModeOf(const QString& path) {
    struct stat status {};
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? int(status.st_mode & 07777)
                                                                     : -1;
}

// No one else may open the lock file: any process that can could hold the lock.
// A file left readable by an earlier version is made private too.
TEST(TFileLock, FileIsTheUsersAlone) {
    QTemporaryDir dir;
    const mode_t umask = ::umask(022);
    TFileLock created, earlier;
    EXPECT_TRUE(created.TryLock(dir.filePath("run.lock")));
    WriteTestFile(dir.filePath("old.lock"), "1\nold\n");
    ASSERT_TRUE(QFile::setPermissions(dir.filePath("old.lock"),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
    EXPECT_TRUE(earlier.TryLock(dir.filePath("old.lock")));
    ::umask(umask);
    EXPECT_EQ(ModeOf(dir.filePath("run.lock")), 0600);
    EXPECT_EQ(ModeOf(dir.filePath("old.lock")), 0600);
}

// Another user's lock file is not ours to take, held or not: its owner is named.
// Only root can give a file to another user.
TEST(TFileLock, AnotherUsersFileIsRefusedAndItsOwnerNamed) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to give the file to another user";
    QTemporaryDir dir;
    const QString path = dir.filePath("run.lock");
    WriteTestFile(path, "77\nother\n");
    const uid_t nobody = 65534;
    ASSERT_EQ(::chown(QFile::encodeName(path).constData(), nobody, nobody), 0);
    TFileLock lock;
    EXPECT_FALSE(lock.TryLock(path));
    EXPECT_TRUE(lock.OtherHolder().OtherOwner);
    const passwd* entry = ::getpwuid(nobody);
    EXPECT_EQ(lock.OtherHolder().Owner,
              entry ? QString::fromLocal8Bit(entry->pw_name) : QStringLiteral("uid 65534"));
    EXPECT_EQ(lock.OtherHolder().Pid, 77);
    EXPECT_EQ(ReadTestFile(path), "77\nother\n");
}

} // namespace
