#include "platform/durable_file.h"

#include "tests/qt_print.h"
#include "tests/support/test_files.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// A write that fails leaves the old file and no temporary file behind.
TEST(WriteFileAtomically, ReplacesWholeOrNotAtAll) {
    QTemporaryDir dir;
    const QString path = dir.filePath("lists.dat");
    WriteFileAtomically(path, "old");
    WriteFileAtomically(path, "new content");
    EXPECT_EQ(ReadTestFile(path), "new content");

    const QString blocked = dir.filePath("blocked");
    ASSERT_TRUE(QDir(dir.path()).mkpath("blocked/inside")); // a full directory cannot be replaced
    EXPECT_THROW(WriteFileAtomically(blocked, "x"), EFileWriteError);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"lists.dat"});
}

// /dev/full refuses every write as a full disk does; the reason is the system's.
TEST(TAppendFile, AFullDiskGivesTheSystemsReasonAndNoGrowth) {
    TAppendFile full;
    full.OpenExisting("/dev/full");
    const int64_t size = full.Size();
    try {
        full.Append("row\r\n");
        FAIL() << "no error on a full disk";
    } catch (const EFileWriteError& failure) {
        EXPECT_EQ(failure.Reason(), "No space left on device");
        EXPECT_EQ(failure.Message(), "Не удалось записать файл /dev/full: No space left on device");
    }
    EXPECT_EQ(full.Size(), size);
}

TEST(TAppendFile, GrowsByWholePiecesAndCutsBack) {
    QTemporaryDir dir;
    const QString path = dir.filePath("data1.csv");
    TAppendFile file;
    ASSERT_TRUE(file.CreateNew(path));
    file.Append("head\r\n");
    file.Append("row\r\n");
    EXPECT_EQ(file.Size(), 11);
    file.CutBack(6);
    file.Append("other\r\n");
    file.Sync();
    EXPECT_EQ(ReadTestFile(path), "head\r\nother\r\n");
    TAppendFile second;
    EXPECT_FALSE(second.CreateNew(path)); // a file that exists is never taken over
    CutFileBack(path, 4);
    EXPECT_EQ(ReadTestFile(path), "head");
    EXPECT_EQ(FileSize(path), 4);
}

} // namespace
