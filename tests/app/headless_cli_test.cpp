#include "tests/qt_print.h"
#include "tests/support/case_name.h"
#include "tests/support/scraper_process.h"
#include "tests/support/test_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

// The real executable in a directory of its own with cities.txt and nothing else,
// so that every file a run makes shows; run with no terminal on standard input.
class HeadlessCliTest : public testing::Test {
public:
    int Run(const QStringList& arguments) {
        return RunProgram(QStringList{"--headless"} + arguments,
                          QProcessEnvironment::systemEnvironment());
    }

    int RunProgram(const QStringList& arguments, const QProcessEnvironment& environment) {
        TScraperRun run(Dir, arguments, environment);
        const int status = run.WaitForExit(60000);
        Out = run.OutputText();
        Err = run.ErrorText();
        return status;
    }

    void Write(const QString& name, const QByteArray& bytes) { Dir.WriteBytes(name, bytes); }
    QByteArray Read(const QString& name) const { return ReadTestFile(Dir.Path(name)); }
    // Standard output's log texts, after their date-time prefix.
    QStringList Texts() const {
        QStringList texts;
        for (const QString& line : Out.split('\n', Qt::SkipEmptyParts))
            texts.append(line.mid(line.indexOf(": ") + 2));
        return texts;
    }

    TScraperDir Dir{{"Россия, Тест=https://127.0.0.1:1"}, TClientFiles::None};
    QString Out, Err;
};

TEST_F(HeadlessCliTest, WouldHaveToAskWithoutATerminalChangesNothing) {
    Write("lists.dat", Bom + "a.test\r\n");
    Write("allknown.dat", Bom + "a.test\r\n");
    Write("cards.dat", "");
    const QStringList before = Dir.Files();
    EXPECT_EQ(Run({"--all"}), 2);
    EXPECT_EQ(Err.count('\n'), 1);
    EXPECT_TRUE(Err.contains("--fresh") && Err.contains("--resume")) << Err.toStdString();
    EXPECT_TRUE(Out.isEmpty());
    EXPECT_EQ(Dir.Files(), before);
    EXPECT_EQ(Read("lists.dat"), Bom + "a.test\r\n");
    EXPECT_EQ(Read("cards.dat"), "");
}

// Nothing to crawl is a usage error found before any file changes: why, then a
// usage line naming --city and --all, on standard error alone.
TEST_F(HeadlessCliTest, NothingToCrawlIsRefusedWithUsage) {
    struct Case {
        const char* name;
        QByteArray cities;
        QStringList arguments;
        QString reason;
    } cases[] = {
        {"saved selection names no city",
         "Россия, Тест=https://127.0.0.1:1\r\n",
         {"--fresh"},
         "no city selected"},
        {"earlier run left work",
         "Россия, Тест=https://127.0.0.1:1\r\n",
         {},
         "no city selected (--resume continues the earlier run)"},
        {"empty cities.txt", "", {"--all", "--fresh"}, Dir.Path("cities.txt") + " lists no city"},
        {"no address to start from",
         "Без ссылки\r\nФтп=ftp://127.0.0.1/\r\n",
         {"--all", "--resume"},
         "no selected city has an address"},
    };
    Write("selection.txt", "Нет такого\r\n");
    for (const Case& c : cases) {
        Write("lists.dat", c.arguments.contains("--resume") ? Bom : Bom + "a.test\r\n");
        Write("allknown.dat", Bom + "a.test\r\n");
        Write("cities.txt", c.cities);
        const auto before = Dir.Snapshot();
        EXPECT_EQ(Run(c.arguments), 2) << c.name;
        EXPECT_EQ(Err, "quorvel-scraper: nothing to crawl: " + c.reason +
                           "\nUsage: quorvel-scraper --headless {--city LABEL... | --all} "
                           "[--fresh | --resume] [--dir DIR] [--threads N]\n")
            << c.name;
        EXPECT_TRUE(Out.isEmpty()) << c.name;
        EXPECT_EQ(Dir.Snapshot(), before) << c.name;
    }
}

// Control characters from cities.txt reach standard output as U+FFFD; the saved
// log keeps them, and a tab stays a tab. (The city to crawl is in skip.txt.)
TEST_F(HeadlessCliTest, ControlCharactersReachTheTerminalReplaced) {
    Write("cities.txt", "Рос\x1b[2Jсия\x07,\tТест\x7f\x01\r\nРоссия, Тест=https://127.0.0.1:1\r\n");
    Write("skip.txt", "127.0.0.1:1\r\n");
    EXPECT_EQ(Run({"--all", "--fresh"}), 0);
    const QStringList texts = Texts();
    ASSERT_EQ(texts.size(), 6) << Out.toStdString();
    EXPECT_EQ(texts[2],
              u"Город \"Рос\uFFFD[2Jсия\uFFFD,\tТест\uFFFD\uFFFD\" пропущен: в cities.txt "
              u"у него нет ссылки"_qs);
    const QByteArray log = Read(QFileInfo(texts[5].section(' ', -1)).fileName());
    EXPECT_TRUE(log.contains("Город \"Рос\x1b[2Jсия\x07,\tТест\x7f\x01\" пропущен"))
        << log.toStdString();
    EXPECT_FALSE(Out.contains(QChar(0x1b)) || Err.contains(QChar(0x1b)));
}

TEST_F(HeadlessCliTest, CityLabelWithAnUnreadableCitiesFileReportsTheReadError) {
    ASSERT_TRUE(QFile::remove(Dir.Path("cities.txt")));
    ASSERT_TRUE(QDir(Dir.Path()).mkdir("cities.txt"));
    EXPECT_EQ(Run({"--city", "Россия, Тест", "--fresh"}), 1);
    EXPECT_TRUE(Err.contains("cities.txt") && !Err.contains("no city labelled"))
        << Err.toStdString();
    EXPECT_TRUE(Out.isEmpty());
}

TEST_F(HeadlessCliTest, ResumeKeepsTheSavedListsAndCards) {
    Write("lists.dat", Bom);
    Write("allknown.dat", Bom + "a.test\r\n");
    Write("cards.dat", "c\r\n");
    Write("skip.txt", "127.0.0.1:1\r\n"); // the run then has nothing to fetch
    EXPECT_EQ(Run({"--all", "--resume"}), 0) << Err.toStdString();
    EXPECT_EQ(Read("cards.dat"), "c\r\n"); // asked about and kept
    // Empty lists.dat: deleted with allknown.dat without asking, so a.test is not known.
    EXPECT_EQ(Read("allknown.dat"), Bom + "127.0.0.1:1\r\n");
}

struct TStatusCase {
    const char* Name;
    QStringList Arguments;
    std::function<void(HeadlessCliTest&)> Arrange;
    int Status;
    QString ErrContains;
};

class HeadlessStatusTest : public HeadlessCliTest,
                           public testing::WithParamInterface<TStatusCase> {};

void PrintTo(const TStatusCase& c, std::ostream* os) {
    *os << c.Name;
}

TEST_P(HeadlessStatusTest, ExitStatus) {
    if (GetParam().Arrange)
        GetParam().Arrange(*this);
    EXPECT_EQ(Run(GetParam().Arguments), GetParam().Status) << Err.toStdString();
    EXPECT_TRUE(Err.contains(GetParam().ErrContains)) << Err.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, HeadlessStatusTest,
    testing::Values(TStatusCase{"UsageError", {"--bogus"}, {}, 2, "Usage: quorvel-scraper"},
                    TStatusCase{"EmptyDir", {"--dir="}, {}, 2, "--dir needs a directory"},
                    TStatusCase{"UnknownCity", {"--city", "Нигде"}, {}, 2, "Нигде"},
                    TStatusCase{"NoCitiesFile",
                                {"--all"},
                                [](HeadlessCliTest& t) { QFile::remove(t.Dir.Path("cities.txt")); },
                                1,
                                ""},
                    TStatusCase{"Help", {"--help"}, {}, 0, ""}),
    CaseName);

struct TStartCase {
    const char* Name;
    QStringList Arguments;
    QString Display; // "": no display variable and no platform named
    int Status;
    QString OutPattern, ErrPattern; // whole-text patterns
};

void PrintTo(const TStartCase& c, std::ostream* os) {
    *os << c.Name;
}

class ProgramStartTest : public HeadlessCliTest, public testing::WithParamInterface<TStartCase> {};

// Answered before the toolkit starts, or when it cannot: no window opens, nothing
// hangs or aborts, and no file or directory is made.
TEST_P(ProgramStartTest, AnswersOnTheTerminal) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        environment.remove(name);
    if (!GetParam().Display.isEmpty())
        environment.insert(GetParam().Display.section('=', 0, 0),
                           GetParam().Display.section('=', 1));
    EXPECT_EQ(RunProgram(GetParam().Arguments, environment), GetParam().Status);
    EXPECT_TRUE(
        QRegularExpression(GetParam().OutPattern, QRegularExpression::DotMatchesEverythingOption)
            .match(Out)
            .hasMatch())
        << Out.toStdString();
    EXPECT_TRUE(
        QRegularExpression(GetParam().ErrPattern, QRegularExpression::DotMatchesEverythingOption)
            .match(Err)
            .hasMatch())
        << Err.toStdString();
    EXPECT_EQ(QDir(Dir.Path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList({"cities.txt", "quorvel-scraper"}));
}

const QString UsageStart = "^Usage: quorvel-scraper \\[--dir DIR\\] \\[--keep-alive\\] "
                           "\\[--verify-peer\\[=CAFILE\\]\\]\n.*--headless.*\n$";
const QString NoDisplay = "quorvel-scraper: no display to open the window on; run "
                          "quorvel-scraper --headless to crawl without one \\(see --help\\)\n$";

INSTANTIATE_TEST_SUITE_P(
    CommandLines, ProgramStartTest,
    testing::Values(
        TStartCase{"HelpWithoutDisplay", {"--help"}, "", 0, UsageStart, "^$"},
        TStartCase{"HelpOffscreen", {"-h"}, "QT_QPA_PLATFORM=offscreen", 0, UsageStart, "^$"},
        TStartCase{"HeadlessHelp", {"--headless", "--help"}, "", 0, UsageStart, "^$"},
        TStartCase{"Version", {"--version"}, "", 0, "^quorvel-scraper \\d+\\.\\d+\\.\\d+\n$", "^$"},
        TStartCase{"HeadlessVersion",
                   {"--headless", "--version"},
                   "",
                   0,
                   "^quorvel-scraper \\d+\\.\\d+\\.\\d+\n$",
                   "^$"},
        TStartCase{"NoDisplay", {}, "", 2, "^$", "^" + NoDisplay},
        TStartCase{"KeepAliveWithoutDisplay", {"--keep-alive"}, "", 2, "^$", "^" + NoDisplay},
        TStartCase{"UnreachableDisplay", {"--dir", "elsewhere"}, "DISPLAY=:97", 2, "^$", NoDisplay},
        TStartCase{"WindowUsageError",
                   {"--dir"},
                   "QT_QPA_PLATFORM=offscreen",
                   2,
                   "^$",
                   "^quorvel-scraper: --dir needs a value\nUsage: "},
        TStartCase{"UnreadableCaFile",
                   {"--headless", "--all", "--verify-peer=missing.pem"},
                   "",
                   2,
                   "^$",
                   "^quorvel-scraper: --verify-peer: cannot read CA certificates from "
                   "\"missing.pem\": No such file or directory\nUsage: "}),
    CaseName);

} // namespace
