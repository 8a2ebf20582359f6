#include "platform/executable_dir.h"

#include "platform/exception.h"
#include "tests/qt_print.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

// Sets HOME and XDG_DATA_HOME for one test and restores them afterwards.
class FilesDirTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Dir.isValid());
        ASSERT_TRUE(QDir().mkpath(Path("prefix/bin")));
        ASSERT_TRUE(QDir().mkpath(Path("prefix/share/quorvel-scraper")));
        ASSERT_TRUE(QDir().mkpath(Path("plain/bin")));
        qputenv("HOME", Path("home").toUtf8());
    }
    void TearDown() override {
        Restore("HOME", FHome);
        Restore("XDG_DATA_HOME", FXdg);
    }
    QString Path(const QString& name) const { return Dir.filePath(name); }

    QTemporaryDir Dir;

private:
    static void Restore(const char* name, const QByteArray& value) {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
    QByteArray FHome = qgetenv("HOME");
    QByteArray FXdg = qgetenv("XDG_DATA_HOME");
};

TEST_F(FilesDirTest, ChosenThenBesideTheExecutableThenTheUserDataDirectory) {
    struct Case {
        const char* name;
        QString chosen, exeDir;
        const char* xdg; // nullptr: unset
        QString expected;
    } cases[] = {
        {"chosen wins", Path("x/../chosen"), Path("plain/bin"), nullptr, Path("chosen")},
        {"chosen relative to the current directory", "rel/d", Path("plain/bin"), nullptr,
         QDir::current().absoluteFilePath("rel/d")},
        {"writable executable directory", "", Path("plain/bin"), "/xdg", Path("plain/bin")},
        {"installed copy", "", Path("prefix/bin"), nullptr,
         Path("home/.local/share/quorvel-scraper")},
        {"installed copy with XDG_DATA_HOME", "", Path("prefix/bin"), "/xdg",
         "/xdg/quorvel-scraper"},
        {"directory that cannot be written", "", Path("missing/bin"), "/xdg",
         "/xdg/quorvel-scraper"},
        {"empty XDG_DATA_HOME", "", Path("prefix/bin"), "",
         Path("home/.local/share/quorvel-scraper")},
        {"relative XDG_DATA_HOME is ignored", "", Path("prefix/bin"), "xdg",
         Path("home/.local/share/quorvel-scraper")},
    };
    for (const Case& c : cases) {
        if (c.xdg)
            qputenv("XDG_DATA_HOME", c.xdg);
        else
            qunsetenv("XDG_DATA_HOME");
        EXPECT_EQ(ChooseFilesDir(c.chosen, c.exeDir), c.expected) << c.name;
    }
}

int ModeOf(const QString& path) {
    struct stat status {};
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? int(status.st_mode & 07777)
                                                                     : -1;
}

// The user data directory holds one user's run state: what the program creates
// of it is that user's alone. A directory chosen with --dir keeps the umask's mode.
TEST_F(FilesDirTest, PreparedDirectoryIsCreatedOrNamedInTheError) {
    qputenv("XDG_DATA_HOME", Path("xdg").toUtf8());
    const mode_t umask = ::umask(022);
    EXPECT_EQ(PrepareFilesDir(Path("new/files")), Path("new/files"));
    EXPECT_EQ(PrepareFilesDir("", Path("prefix/bin")), Path("xdg/quorvel-scraper"));
    ::umask(umask);
    EXPECT_EQ(ModeOf(Path("new/files")), 0755);
    EXPECT_EQ(ModeOf(Path("xdg")), 0700);
    EXPECT_EQ(ModeOf(Path("xdg/quorvel-scraper")), 0700);
    QFile file(Path("a-file"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    try {
        PrepareFilesDir(Path("a-file"));
        ADD_FAILURE() << "no error for a file in the directory's place";
    } catch (const Exception& error) {
        EXPECT_TRUE(error.Message().contains(Path("a-file"))) << error.what();
    }
}

} // namespace
