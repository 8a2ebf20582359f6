#include "tests/qt_print.h"
#include "tests/support/test_files.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QByteArray Bom = "\xEF\xBB\xBF";

// The real executable, copied into a temporary directory so that its files lie
// beside it there; run with no terminal on standard input.
class HeadlessCliTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Dir.isValid());
        const QString built = QCoreApplication::applicationDirPath() + "/quorvel-scraper";
        ASSERT_TRUE(QFile::copy(built, Dir.filePath("quorvel-scraper"))) << built.toStdString();
        Write("cities.txt", "Россия, Тест=https://127.0.0.1:1\r\n");
    }

    int Run(const QStringList& arguments) {
        QProcess process;
        process.setProgram(Dir.filePath("quorvel-scraper"));
        process.setArguments(QStringList{"--headless"} + arguments);
        process.start();
        process.closeWriteChannel();
        EXPECT_TRUE(process.waitForFinished(60000));
        Out = QString::fromUtf8(process.readAllStandardOutput());
        Err = QString::fromUtf8(process.readAllStandardError());
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    void Write(const QString& name, const QByteArray& bytes) {
        WriteTestFile(Dir.filePath(name), bytes);
    }
    QByteArray Read(const QString& name) const { return ReadTestFile(Dir.filePath(name)); }
    QStringList Files() const { return QDir(Dir.path()).entryList(QDir::Files, QDir::Name); }
    // Standard output's log texts, after their date-time prefix.
    QStringList Texts() const {
        QStringList texts;
        for (const QString& line : Out.split('\n', Qt::SkipEmptyParts))
            texts.append(line.mid(line.indexOf(": ") + 2));
        return texts;
    }

    QTemporaryDir Dir;
    QString Out, Err;
};

TEST_F(HeadlessCliTest, WouldHaveToAskWithoutATerminalChangesNothing) {
    Write("lists.dat", Bom + "a.test\r\n");
    Write("allknown.dat", Bom + "a.test\r\n");
    Write("cards.dat", "");
    const QStringList before = Files();
    EXPECT_EQ(Run({}), 2);
    EXPECT_EQ(Err.count('\n'), 1);
    EXPECT_TRUE(Err.contains("--fresh") && Err.contains("--resume")) << Err.toStdString();
    EXPECT_TRUE(Out.isEmpty());
    EXPECT_EQ(Files(), before);
    EXPECT_EQ(Read("lists.dat"), Bom + "a.test\r\n");
    EXPECT_EQ(Read("cards.dat"), "");
}

TEST_F(HeadlessCliTest, EmptyRunWritesItsFilesAndLogsToStandardOutput) {
    Write("lists.dat", Bom + "a.test\r\n");
    Write("allknown.dat", Bom + "a.test\r\n");
    Write("selection.txt", "Нет такого\r\n");
    EXPECT_EQ(Run({"--fresh"}), 0) << Err.toStdString();
    const QStringList texts = Texts();
    ASSERT_EQ(texts.size(), 4) << Out.toStdString();
    EXPECT_EQ(texts[0], "Начинаем работу по заданным параметрам");
    EXPECT_TRUE(texts[2].startsWith("Данные будут записываться в файл " + Dir.path() + "/data"));
    const QString log = texts[3].section(' ', -1);
    EXPECT_TRUE(texts[3].startsWith("Работа завершена, лог записан в " + Dir.path() + "/log-"));
    EXPECT_EQ(Read("lists.dat"), Bom);
    EXPECT_EQ(Read("allknown.dat"), Bom);
    EXPECT_EQ(Read("selection.txt"), "Нет такого\r\n");
    EXPECT_EQ(Read(QFileInfo(log).fileName()), Out.toUtf8().replace("\n", "\r\n"));
    EXPECT_TRUE(Err.isEmpty()) << Err.toStdString();
}

TEST_F(HeadlessCliTest, ResumeKeepsTheSavedListsAndCards) {
    Write("lists.dat", Bom);
    Write("allknown.dat", Bom + "a.test\r\n");
    Write("cards.dat", "c\r\n");
    EXPECT_EQ(Run({"--resume"}), 0) << Err.toStdString();
    EXPECT_EQ(Read("cards.dat"), "c\r\n"); // asked about and kept
    EXPECT_EQ(Read("allknown.dat"), Bom);  // empty lists.dat: deleted without asking
}

struct TStatusCase {
    const char* Name;
    QStringList Arguments;
    std::function<void(HeadlessCliTest&)> Arrange;
    int Status;
    QString ErrContains;
};

class HeadlessStatusTest : public HeadlessCliTest, public testing::WithParamInterface<TStatusCase> {
public:
    using HeadlessCliTest::Write;
    QTemporaryDir& Directory() { return Dir; }
};

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
    testing::Values(
        TStatusCase{"UsageError", {"--bogus"}, {}, 2, "Usage: quorvel-scraper --headless"},
        TStatusCase{"UnknownCity", {"--city", "Нигде"}, {}, 2, "Нигде"},
        TStatusCase{"NoCitiesFile",
                    {"--all"},
                    [](HeadlessCliTest& t) {
                        QFile::remove(
                            static_cast<HeadlessStatusTest&>(t).Directory().filePath("cities.txt"));
                    },
                    1,
                    ""},
        TStatusCase{"Help", {"--help"}, {}, 0, ""}),
    [](const testing::TestParamInfo<TStatusCase>& info) { return info.param.Name; });

} // namespace
