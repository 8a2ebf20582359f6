#include "platform/durable_file.h"

#include "platform/file_lock.h"
#include "tests/qt_print.h"
#include "tests/support/test_files.h"

#include <QDir>
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
TEST(PlantedLink, IsNeverWrittenThrough) {
    const struct {
        const char* Name;
        std::function<void(const QString& path)> Write;
        bool Refused; // else the write goes around the link
    } cases[] = {
        {"lists.dat.tmp", [](const QString& path) { WriteFileAtomically(path.chopped(4), "new"); },
         false},
        {"data1.csv", [](const QString& path) { CutFileBack(path, 0); }, true},
        {"run.lock", [](const QString& path) { TFileLock().TryLock(path); }, true},
        {"journal.dat", [](const QString& path) { TAppendFile().OpenExisting(path); }, true},
    };
    for (const auto& c : cases) {
        QTemporaryDir dir, elsewhere;
        const QString victim = elsewhere.filePath("victim"), link = dir.filePath(c.Name);
        WriteTestFile(victim, "someone's file");
        ASSERT_TRUE(QFile::link(victim, link));
        try {
            c.Write(link);
            EXPECT_FALSE(c.Refused) << c.Name << ": no error";
        } catch (const EFileWriteError& failure) {
            EXPECT_EQ(failure.Message(),
                      "Не удалось записать файл " + link +
                          ": вместо файла стоит символическая ссылка; удалите её");
        }
        EXPECT_EQ(ReadTestFile(victim), "someone's file") << c.Name;
    }
}

int ModeOf(const QString& path) {
    struct stat status {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 ? int(status.st_mode & 07777)
                                                                      : -1;
}

// The run's state is the user's alone (a lock file left readable by an earlier
// version too); the data file and the log keep the mode the umask gives.
TEST(WriteFileAtomically, RunStateIsPrivateAndWhatTheUserReadsFollowsTheUmask) {
    QTemporaryDir dir;
    const mode_t umask = ::umask(022);
    WriteFileAtomically(dir.filePath("lists.dat"), "x");
    WriteTextLinesAtomically(dir.filePath("log-1.txt"), {"line"});
    TAppendFile data;
    EXPECT_TRUE(data.CreateNew(dir.filePath("data1.csv")));
    WriteTestFile(dir.filePath("old.lock"), "1\nold\n");
    TFileLock created, earlier;
    EXPECT_TRUE(created.TryLock(dir.filePath("run.lock")) &&
                earlier.TryLock(dir.filePath("old.lock")));
    ::umask(umask);
    const std::pair<const char*, int> modes[] = {{"lists.dat", 0600},
                                                 {"run.lock", 0600},
                                                 {"old.lock", 0600},
                                                 {"log-1.txt", 0644},
                                                 {"data1.csv", 0644}};
    for (const auto& [name, mode] : modes)
        EXPECT_EQ(ModeOf(dir.filePath(name)), mode) << name;
}

} // namespace
