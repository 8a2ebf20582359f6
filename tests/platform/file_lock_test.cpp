#include "platform/file_lock.h"

#include "tests/qt_print.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <pwd.h>
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

} // namespace
