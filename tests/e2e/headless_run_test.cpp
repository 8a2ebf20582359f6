#include "tests/support/scraper_process.h"

#include "platform/text_compare.h"
#include "testsite/site_server.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "tests/qt_print.h"
#include "tests/support/case_name.h"

#include <algorithm>

namespace {

const QString LogSavedText = "Работа завершена, лог записан в ";

QStringList SortedIgnoringCase(QStringList list) {
    std::sort(list.begin(), list.end(),
              [](const QString& a, const QString& b) { return CompareTextIgnoreCase(a, b) < 0; });
    return list;
}

// The text of a log line after its date-time prefix.
QString LogText(const QString& line) {
    return line.mid(line.indexOf(": ") + 2);
}

QStringList LogTexts(const QStringList& lines) {
    QStringList texts;
    for (const QString& line : lines)
        texts.append(LogText(line));
    return texts;
}

QStringList FoundTexts(const TSiteModel& model) {
    QStringList texts;
    for (const TExpectedListPage& page : model.ExpectedListPages())
        texts.append(QString("Найдено %1 объектов по ссылке %2").arg(page.Cards).arg(page.Url));
    return texts;
}

QString SavedLogPath(const QStringList& output) {
    QString text = LogText(output.value(output.size() - 1));
    return text.startsWith(LogSavedText) ? text.mid(LogSavedText.size()) : QString();
}

QString Canonical(const QString& path) {
    return QFileInfo(path).canonicalFilePath();
}

class HeadlessRun : public testing::Test {
protected:
    TSiteServer Site;
    TScraperDir Dir{{Site.Model().CityLine(), "Россия, Нигдеград=https://127.0.0.1:1"}};
};

TEST_F(HeadlessRun, WholeCrawlWritesEveryCardAndKnowsEveryList) {
    TScraperRun run(Dir, {"--headless", "--city", Site.Model().CityLabel().toLower(), "--fresh"},
                    Site.BaseUrl());
    ASSERT_EQ(run.WaitForExit(), 0) << qPrintable(run.ErrorText());

    QStringList expectedRows;
    for (const TExpectedRecord& record : Site.Model().ExpectedRecords())
        expectedRows.append(DataRowText(record.Columns));
    const QStringList dataFiles = Dir.Files("data*.csv");
    ASSERT_EQ(dataFiles.size(), 1);
    EXPECT_EQ(Sorted(DataRows(Dir.ReadBytes(dataFiles[0]))), Sorted(expectedRows));

    EXPECT_EQ(Dir.ReadBytes("lists.dat"), Bom);
    EXPECT_EQ(CrLfLines(Dir.ReadBytes("allknown.dat")),
              SortedIgnoringCase(Site.Model().ExpectedKnownLinks()));

    const QStringList output = run.OutputLines();
    QFile log(SavedLogPath(output));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly)) << qPrintable(log.fileName());
    EXPECT_EQ(Canonical(log.fileName()), Canonical(Dir.Path(Dir.Files("log-*.txt").value(0))));
    QStringList logLines = QString::fromUtf8(log.readAll()).split("\r\n");
    if (logLines.last().isEmpty())
        logLines.removeLast(); // a line end after the last line, or none: both are whole lines
    EXPECT_EQ(logLines, output);

    QStringList texts = LogTexts(output);
    ASSERT_GE(texts.size(), 4);
    EXPECT_EQ(texts[0], "Начинаем работу по заданным параметрам");
    EXPECT_EQ(texts[1], "Начинаем работу...");
    const QString dataLine = "Данные будут записываться в файл ";
    ASSERT_TRUE(texts[2].startsWith(dataLine)) << qPrintable(texts[2]);
    EXPECT_EQ(Canonical(texts[2].mid(dataLine.size())), Canonical(Dir.Path(dataFiles[0])));
    EXPECT_EQ(Sorted(texts.mid(3, texts.size() - 4)), Sorted(FoundTexts(Site.Model())));

    // Every list page and every card once, none failed.
    const qsizetype pages = Site.Model().ExpectedListPages().size() + expectedRows.size();
    const QString totals =
        QString("quorvel-scraper: %1 pages fetched, 0 failed, %2 rows written in ")
            .arg(pages)
            .arg(expectedRows.size());
    EXPECT_TRUE(run.ErrorText().startsWith(totals)) << qPrintable(run.ErrorText());
    EXPECT_EQ(run.ErrorText().count('\n'), 1) << qPrintable(run.ErrorText());
}

// With nothing selected only a resume has work: --fresh is refused before any file
// changes, --resume crawls what the earlier run left.
TEST_F(HeadlessRun, NothingSelectedIsRefusedUnlessASavedRunIsResumed) {
    const QByteArray city = Site.Model().CityLine().section('=', 1).mid(8).toUtf8() + "\r\n";
    Dir.WriteBytes("lists.dat", Bom + city);
    Dir.WriteBytes("allknown.dat", Bom + city);
    const auto before = Dir.Snapshot();
    TScraperRun refused(Dir, {"--headless", "--fresh"}, Site.BaseUrl());
    ASSERT_EQ(refused.WaitForExit(), 2) << qPrintable(refused.ErrorText());
    EXPECT_TRUE(refused.ErrorText().contains("--city") && refused.ErrorText().contains("--all"))
        << qPrintable(refused.ErrorText());
    EXPECT_EQ(Dir.Snapshot(), before);
    EXPECT_TRUE(Site.Requests().isEmpty());

    TScraperRun resumed(Dir, {"--headless", "--resume"}, Site.BaseUrl());
    ASSERT_EQ(resumed.WaitForExit(), 0) << qPrintable(resumed.ErrorText());
    ExpectWholeCrawl(Dir, Site.Model());
}

// --dir names where the files are: cities.txt is read there and everything the run
// writes goes there, none of it beside the executable.
TEST_F(HeadlessRun, TheDirectoryNamedByDirHoldsTheFiles) {
    QTemporaryDir files;
    ASSERT_TRUE(files.isValid());
    QFile::rename(Dir.Path("cities.txt"), files.filePath("cities.txt"));
    const auto besideTheExecutable = Dir.Snapshot();
    TScraperRun run(
        Dir, {"--headless", "--city", Site.Model().CityLabel(), "--fresh", "--dir", files.path()},
        Site.BaseUrl());
    ASSERT_EQ(run.WaitForExit(), 0) << qPrintable(run.ErrorText());

    EXPECT_EQ(Dir.Snapshot(), besideTheExecutable);
    const QDir dir(files.path());
    const QStringList data = dir.entryList({"data*.csv"});
    ASSERT_EQ(data.size(), 1);
    QFile dataFile(dir.filePath(data[0]));
    ASSERT_TRUE(dataFile.open(QIODevice::ReadOnly));
    EXPECT_EQ(DataRows(dataFile.readAll()).size(), Site.Model().ExpectedRecords().size());
    EXPECT_EQ(dir.entryList({"*.dat", "log-*.txt", "run.lock"}, QDir::Files, QDir::Name),
              QStringList({"allknown.dat", "failed.dat", "lists.dat"}) +
                  dir.entryList({"log-*.txt"}) + QStringList({"rubrics.dat", "run.lock"}));
}

struct TRefusedRun {
    const char* Name;
    QStringList Arguments;
    int ExitCode;
};

class HeadlessRefusal : public HeadlessRun, public testing::WithParamInterface<TRefusedRun> {};

TEST_P(HeadlessRefusal, EndsWithItsStatusAndChangesNoFile) {
    Dir.WriteBytes("lists.dat", Bom + "127.0.0.1:1/avto/\r\n");
    Dir.WriteBytes("allknown.dat", Bom + "127.0.0.1:1/avto/\r\n");
    const auto before = Dir.Snapshot();

    TScraperRun run(Dir, GetParam().Arguments, Site.BaseUrl());
    EXPECT_EQ(run.WaitForExit(), GetParam().ExitCode) << qPrintable(run.ErrorText());

    EXPECT_EQ(Dir.Snapshot(), before);
    EXPECT_TRUE(Site.Requests().isEmpty());
    if (GetParam().ExitCode == 2) {
        EXPECT_FALSE(run.ErrorText().isEmpty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, HeadlessRefusal,
    testing::Values(TRefusedRun{"would_have_to_ask", {"--headless", "--all"}, 2},
                    TRefusedRun{"unknown_option", {"--headless", "--everything"}, 2},
                    TRefusedRun{"fresh_and_resume", {"--headless", "--fresh", "--resume"}, 2},
                    TRefusedRun{"help", {"--headless", "--help"}, 0}),
    CaseName);

TEST_F(HeadlessRun, AQuestionWithoutATerminalNamesBothAnswers) {
    Dir.WriteBytes("lists.dat", Bom + "127.0.0.1:1/avto/\r\n");
    TScraperRun run(Dir, {"--headless", "--all"}, Site.BaseUrl());
    ASSERT_EQ(run.WaitForExit(), 2);
    EXPECT_TRUE(run.ErrorText().contains("--fresh")) << qPrintable(run.ErrorText());
    EXPECT_TRUE(run.ErrorText().contains("--resume")) << qPrintable(run.ErrorText());
}

} // namespace
