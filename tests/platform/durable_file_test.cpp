#include "platform/durable_file.h"

#include "platform/file_lock.h"
#include "tests/qt_print.h"
#include "tests/support/case_name.h"
#include "tests/support/test_files.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <sys/stat.h>

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

// A link planted in the directory at a name the program writes: what it points
// to is never written, and a refusal names the file and says to remove the link.
struct TPlantedLinkCase {
    const char* Name;
    const char* LinkName;
    std::function<void(const QString& dir)> Write;
    bool Refused; // else the write goes around the link
};

const TPlantedLinkCase PlantedLinkCases[] = {
    {"FixedTemporaryNameOfEarlierVersions", "lists.dat.tmp",
     [](const QString& dir) { WriteFileAtomically(dir + "/lists.dat", "new"); }, false},
    {"DataFileCutBack", "data1.csv", [](const QString& dir) { CutFileBack(dir + "/data1.csv", 0); },
     true},
    {"LockFile", "run.lock",
     [](const QString& dir) {
         TFileLock lock;
         lock.TryLock(dir + "/run.lock");
     },
     true},
    {"JournalAppendedTo", "journal.dat",
     [](const QString& dir) {
         TAppendFile journal;
         journal.OpenExisting(dir + "/journal.dat");
         journal.Append("T\t1\tx\n");
     },
     true},
};

class PlantedLinkTest : public testing::TestWithParam<TPlantedLinkCase> {};

TEST_P(PlantedLinkTest, IsNeverWrittenThrough) {
    const TPlantedLinkCase& c = GetParam();
    QTemporaryDir dir, elsewhere;
    const QString victim = elsewhere.filePath("victim");
    const QString link = dir.filePath(c.LinkName);
    WriteTestFile(victim, "someone's file");
    ASSERT_TRUE(QFile::link(victim, link));
    try {
        c.Write(dir.path());
        EXPECT_FALSE(c.Refused) << "no error";
    } catch (const EFileWriteError& failure) {
        EXPECT_TRUE(c.Refused) << qPrintable(failure.Message());
        EXPECT_EQ(failure.Message(), "Не удалось записать файл " + link +
                                         ": вместо файла стоит символическая ссылка; удалите её");
    }
    EXPECT_EQ(ReadTestFile(victim), "someone's file");
    EXPECT_TRUE(QFileInfo(link).isSymLink());
}

INSTANTIATE_TEST_SUITE_P(Names, PlantedLinkTest, testing::ValuesIn(PlantedLinkCases), CaseName);

int ModeOf(const QString& path) {
    struct stat status {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 ? int(status.st_mode & 07777)
                                                                      : -1;
}

// The run's state is the user's alone; the data file and the log keep the mode
// the user's umask gives.
TEST(WriteFileAtomically, RunStateIsPrivateAndWhatTheUserReadsFollowsTheUmask) {
    QTemporaryDir dir;
    const mode_t umask = ::umask(022);
    WriteFileAtomically(dir.filePath("lists.dat"), "x");
    WriteTextLinesAtomically(dir.filePath("log-1.txt"), {"line"});
    TAppendFile data;
    EXPECT_TRUE(data.CreateNew(dir.filePath("data1.csv")));
    ::umask(umask);
    EXPECT_EQ(ModeOf(dir.filePath("lists.dat")), 0600);
    EXPECT_EQ(ModeOf(dir.filePath("log-1.txt")), 0644);
    EXPECT_EQ(ModeOf(dir.filePath("data1.csv")), 0644);
}

// Only the temporary names of the file given go: the fixed one of earlier
// versions and the random ones.
TEST(RemoveStaleTemporaries, RemovesWhatAnInterruptedWriteLeftBesideTheFile) {
    QTemporaryDir dir;
    for (const char* name : {"lists.dat", "lists.dat.tmp", "lists.dat.tmp-a1B2c3D4e5F6",
                             "lists.dat.tmp-short", "allknown.dat.tmp-a1B2c3D4e5F6"})
        WriteTestFile(dir.filePath(name), "x");
    ASSERT_TRUE(QFile::link(dir.filePath("lists.dat"), dir.filePath("lists.dat.tmp-linkLINKlink")));
    RemoveStaleTemporaries(dir.filePath("lists.dat"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::System, QDir::Name),
              QStringList({"allknown.dat.tmp-a1B2c3D4e5F6", "lists.dat", "lists.dat.tmp-short"}));
}

} // namespace
