#include "form_fixture.h"
#include "tests/support/case_name.h"
#include "tests/support/scraper_fakes.h"

#include "app/window_start.h"
#include "crawl/orphan_threads.h"
#include "crawl/run_lock.h"
#include "platform/exception.h"
#include "platform/file_lock.h"

#include <QDir>
#include <QProgressBar>
#include <QRegularExpression>
#include <QTimer>

#include <pwd.h>
#include <unistd.h>

namespace {

constexpr int RunBoundMs = 15000;

std::shared_ptr<TFakeSite> GatedSite() {
    auto site = std::make_shared<TFakeSite>();
    site->Gated = true;
    site->GateEndsOnStop = true;
    return site;
}

const QByteArray ThreeCities = "Россия, Томск=https://tomsk.quorvel.test\r\n"
                               "Россия, Омск=https://omsk.quorvel.test\r\n"
                               "Россия, Тверь=https://tver.quorvel.test\r\n";

// A window whose runs fetch from a canned site with no pages: every fetch waits at
// the site's gate until the test opens it or the run stops the thread, then fails
// its page, so a run stays busy exactly as long as a test needs.
class RunFixture : public FormFixture {
protected:
    TMainForm& ShowRunForm(int failurePauseMs = 30000) {
        TScraperSettings settings;
        settings.SiteBaseUrl = QStringLiteral("https://quorvel.test");
        settings.NewFetchThread = [site = Site] { return new TFakeScrapingThread(site); };
        settings.FailurePauseMs = failurePauseMs;
        return ShowForm(std::move(settings));
    }
    // Shows the window with the three cities, selects `rows` and presses START.
    void StartWith(const QList<int>& rows) {
        WriteFile("cities.txt", ThreeCities);
        ShowRunForm();
        for (int row : rows)
            Form->CitiesListBox->item(row)->setSelected(true);
        QTest::mouseClick(Form->StartButton, Qt::LeftButton);
    }
    bool LogHas(const QString& text) const { return Form->LogsMemo->toPlainText().contains(text); }
    bool LastLogLineEndsWith(const QString& text) const { return LogLines().last().endsWith(text); }
    int CountInLog(const QString& text) const { return Form->LogsMemo->toPlainText().count(text); }
    bool WaitRunEnd() {
        return QTest::qWaitFor([this] { return !Form->RunInProgress(); }, RunBoundMs);
    }
    bool WaitLog(const QString& text) {
        return QTest::qWaitFor([&] { return LogHas(text); }, RunBoundMs);
    }
    bool WaitStarted(int fetches) {
        return QTest::qWaitFor([&] { return Site->Started.load() >= fetches; }, RunBoundMs);
    }
    QStringList LogFiles() const { return QDir(Dir.path()).entryList({"log-*.txt"}, QDir::Files); }
    // Fetch threads a stopped run left behind are joined before the next test.
    void TearDown() override {
        Site->Open();
        if (Form && Form->RunInProgress()) {
            Form->StopButtonClick();
            WaitRunEnd();
        }
        DrainOrphanThreads();
    }

    std::shared_ptr<TFakeSite> Site = GatedSite();
};

const QString Greeting = QStringLiteral("нажмите СТАРТ");
const QString RunStarted = QStringLiteral("Начинаем работу по заданным параметрам");
const QString PauseOn = QStringLiteral("Включаем паузу");
const QString PauseOff = QStringLiteral("Отключаем паузу, продолжаем работу");
const QString Stopping = QStringLiteral("Останавливаем работу");
const QString RunEnded = QStringLiteral("Работа завершена, лог записан в ");

} // namespace

TEST_F(RunFixture, RunStartReplacesTheGreeting) {
    StartWith({0});
    ASSERT_TRUE(WaitStarted(1));
    EXPECT_FALSE(LogHas(Greeting));
    EXPECT_TRUE(LogLines().first().endsWith(RunStarted)) << LogLines().first().toStdString();
    EXPECT_FALSE(Form->StartButton->isEnabled());
    EXPECT_FALSE(Form->CitiesListBox->isEnabled());
}

TEST_F(RunFixture, PausePressedTwicePausesThenResumes) {
    StartWith({0});
    ASSERT_TRUE(WaitStarted(1));
    QTest::mouseClick(Form->PauseButton, Qt::LeftButton);
    EXPECT_TRUE(Form->Scraper()->Paused());
    EXPECT_TRUE(LastLogLineEndsWith(PauseOn));
    QTest::mouseClick(Form->PauseButton, Qt::LeftButton);
    EXPECT_FALSE(Form->Scraper()->Paused());
    EXPECT_TRUE(LastLogLineEndsWith(PauseOff));
    EXPECT_TRUE(Form->RunInProgress());
}

// A paused run must still take in the page when resumed: the gate opens while
// it is paused and the failed page appears only after the second press.
TEST_F(RunFixture, PausedRunCollectsNothingUntilResumed) {
    StartWith({0});
    ASSERT_TRUE(WaitStarted(1));
    QTest::mouseClick(Form->PauseButton, Qt::LeftButton);
    Site->Open();
    QTest::mouseClick(Form->PauseButton, Qt::LeftButton);
    ASSERT_TRUE(WaitRunEnd());
    const QStringList lines = LogLines();
    const int resumed = lines.indexOf(QRegularExpression(".*" + PauseOff + "$"));
    const int failedPage = lines.indexOf(QRegularExpression(".*tomsk\\.quorvel\\.test.*ERROR_.*"));
    ASSERT_GE(resumed, 0);
    EXPECT_GT(failedPage, resumed);
}

TEST_F(RunFixture, StopWhilePausedResumesAndEndsTheRun) {
    StartWith({0, 1, 2});
    ASSERT_TRUE(WaitStarted(2));
    QTest::mouseClick(Form->PauseButton, Qt::LeftButton);
    QTest::mouseClick(Form->StopButton, Qt::LeftButton);
    EXPECT_FALSE(Form->Scraper()->Paused());
    EXPECT_EQ(Form->ProgressBar->value(), 0);
    ASSERT_TRUE(WaitRunEnd());
    const QStringList lines = LogLines();
    const int stop = lines.indexOf(QRegularExpression(".*" + Stopping + "$"));
    ASSERT_GE(stop, 0);
    ASSERT_TRUE(lines.last().contains(RunEnded)) << lines.last().toStdString();
    EXPECT_GT(lines.size() - 1, stop);
    EXPECT_TRUE(Form->StartButton->isEnabled());
    EXPECT_TRUE(Form->CitiesListBox->isEnabled());
    // The run end saved the log it names, and the entry not yet taken.
    ASSERT_EQ(LogFiles().size(), 1);
    EXPECT_TRUE(lines.last().endsWith(QDir(Dir.path()).filePath(LogFiles()[0])));
    EXPECT_TRUE(ReadFile("lists.dat").contains("tver.quorvel.test"));
}

namespace {

struct TAfterRunCase {
    const char* Name;
    std::function<void(TMainForm&)> Act;
};
void PrintTo(const TAfterRunCase& row, std::ostream* os) {
    *os << row.Name;
}

const TAfterRunCase AfterRunCases[] = {
    {"Pause", [](TMainForm& form) { QTest::mouseClick(form.PauseButton, Qt::LeftButton); }},
    {"Stop", [](TMainForm& form) { QTest::mouseClick(form.StopButton, Qt::LeftButton); }},
    {"ResumeTimer", [](TMainForm& form) { form.ResumeTimerTimer(); }},
};

class AfterRunTest : public RunFixture, public testing::WithParamInterface<TAfterRunCase> {};

} // namespace

TEST_P(AfterRunTest, CommandDoesNothingOnceTheRunHasEnded) {
    StartWith({0});
    ASSERT_TRUE(WaitStarted(1));
    Site->Open();
    ASSERT_TRUE(WaitRunEnd());
    Form->ProgressBar->setValue(Form->ProgressBar->maximum());
    const QString log = Form->LogsMemo->toPlainText();
    GetParam().Act(*Form);
    EXPECT_EQ(Form->LogsMemo->toPlainText(), log);
    EXPECT_EQ(Form->ProgressBar->value(), Form->ProgressBar->maximum());
    EXPECT_FALSE(Form->Scraper()->Paused());
}

INSTANTIATE_TEST_SUITE_P(Run, AfterRunTest, testing::ValuesIn(AfterRunCases), CaseName);

namespace {

// A run whose loop fails at its first job: the controller reports the failure
// and pauses itself with the resume timer armed.
class FailureTest : public RunFixture {
protected:
    void StartFailingRun(int failurePauseMs) {
        WriteFile("cities.txt", ThreeCities);
        TScraperSettings settings;
        settings.SiteBaseUrl = QStringLiteral("https://quorvel.test");
        settings.NewFetchThread = []() -> TScrapingThread* {
            throw Exception(QStringLiteral("сбой в тесте"));
        };
        settings.FailurePauseMs = failurePauseMs;
        ShowForm(std::move(settings));
        Form->CitiesListBox->item(0)->setSelected(true);
        QTest::mouseClick(Form->StartButton, Qt::LeftButton);
        ASSERT_TRUE(WaitLog(QStringLiteral("Включаем паузу на 30 секунд")));
        ASSERT_TRUE(QTest::qWaitFor([this] { return Form->Scraper()->Paused(); }, RunBoundMs));
    }
};

} // namespace

TEST_F(FailureTest, ResumeTimerEndsThePauseAndTheRunFinishes) {
    StartFailingRun(100);
    EXPECT_TRUE(LogHas(QStringLiteral("Ошибка: сбой в тесте")));
    ASSERT_TRUE(WaitRunEnd());
    EXPECT_EQ(CountInLog(PauseOff), 1);
    EXPECT_TRUE(LogLines().last().contains(RunEnded));
    EXPECT_FALSE(Form->ResumeTimer->isActive());
    EXPECT_TRUE(Exists("lists.dat"));
}

TEST_F(FailureTest, PauseResumesAtOnceAndTheTimerLaterOnlyDisablesItself) {
    StartFailingRun(400);
    ASSERT_TRUE(Form->ResumeTimer->isActive());
    QTest::mouseClick(Form->PauseButton, Qt::LeftButton);
    EXPECT_TRUE(LastLogLineEndsWith(PauseOff));
    ASSERT_TRUE(WaitRunEnd());
    ASSERT_TRUE(QTest::qWaitFor([this] { return !Form->ResumeTimer->isActive(); }, RunBoundMs));
    EXPECT_EQ(CountInLog(PauseOff), 1);
    EXPECT_TRUE(LogLines().last().contains(RunEnded));
}

TEST_F(FailureTest, TimerIsArmedForThePauseAndStopEndsIt) {
    StartFailingRun(30000);
    EXPECT_TRUE(Form->ResumeTimer->isActive());
    EXPECT_EQ(Form->ResumeTimer->interval(), 30000);
    QTest::mouseClick(Form->StopButton, Qt::LeftButton);
    ASSERT_TRUE(WaitRunEnd());
    EXPECT_TRUE(LogLines().last().contains(RunEnded));
}

namespace {

const QByteArray OldLists = "\xEF\xBB\xBFold.quorvel.test/a/\r\nold.quorvel.test/b/\r\n"
                            "old.quorvel.test/c/\r\n";
const QString ListsQuestion3 = QStringLiteral(
    "От прошлого запуска осталось 3 ссылок на списки карточек. Удалить их и начать с начала?");
const QString CardsQuestion2 = QStringLiteral(
    "От прошлого запуска осталось 2 ссылок на карточки. Удалить их и начать с начала?");

struct TStartCase {
    const char* Name;
    const char* Lists; // nullptr: no lists.dat
    const char* Cards; // nullptr: no cards.dat
    QList<bool> Answers;
    QStringList Questions;
    bool Resumes; // the run fetched the saved entries
    bool CardsKept;
};
void PrintTo(const TStartCase& row, std::ostream* os) {
    *os << row.Name;
}

const QList<TStartCase> StartCases = {
    {"NothingLeft", nullptr, nullptr, {}, {}, false, false},
    {"EmptyListsDeletedWithoutAsking", "", nullptr, {}, {}, false, false},
    {"ListsYesStartsAfresh", OldLists.constData(), nullptr, {true}, {ListsQuestion3}, false, false},
    {"ListsNoResumes", OldLists.constData(), nullptr, {false}, {ListsQuestion3}, true, false},
    {"EmptyCardsDeletedWithoutAsking", nullptr, "", {}, {}, false, false},
    {"CardsYesDeletes", nullptr, "a\r\nb\r\n", {true}, {CardsQuestion2}, false, false},
    {"CardsNoKeeps", nullptr, "a\r\nb\r\n", {false}, {CardsQuestion2}, false, true},
    {"ListsYesThenCardsNo",
     OldLists.constData(),
     "a\nb",
     {true, false},
     {ListsQuestion3, CardsQuestion2},
     false,
     true},
    {"ListsNoThenCardsYes",
     OldLists.constData(),
     "a\nb",
     {false, true},
     {ListsQuestion3, CardsQuestion2},
     true,
     false},
};

class StartQuestionsTest : public RunFixture, public testing::WithParamInterface<TStartCase> {};

} // namespace

TEST_P(StartQuestionsTest, AsksAboutWhatAnEarlierRunLeft) {
    const TStartCase& row = GetParam();
    WriteFile("cities.txt", ThreeCities);
    if (row.Lists) {
        WriteFile("lists.dat", row.Lists);
        WriteFile("allknown.dat", "\xEF\xBB\xBFold.quorvel.test/a/\r\n");
    }
    if (row.Cards)
        WriteFile("cards.dat", row.Cards);
    ShowRunForm();
    Dialogs->Answers = row.Answers;
    Site->Open();
    Form->CitiesListBox->item(1)->setSelected(true);
    QTest::mouseClick(Form->StartButton, Qt::LeftButton);
    EXPECT_EQ(Dialogs->Questions, row.Questions);
    ASSERT_TRUE(WaitRunEnd());
    EXPECT_EQ(LogHas("old.quorvel.test/b/"), row.Resumes);
    EXPECT_EQ(LogHas("https://omsk.quorvel.test"), !row.Resumes);
    EXPECT_EQ(Exists("cards.dat"), row.CardsKept);
}

INSTANTIATE_TEST_SUITE_P(Run, StartQuestionsTest, testing::ValuesIn(StartCases), CaseName);

TEST_F(RunFixture, SecondStartBeforeTheRunTakesOverIsIgnored) {
    WriteFile("cities.txt", ThreeCities);
    WriteFile("lists.dat", OldLists);
    WriteFile("allknown.dat", "");
    ShowRunForm();
    Dialogs->Answers = {false, false};
    Form->StartButtonClick();
    Form->StartButtonClick();
    EXPECT_EQ(Dialogs->Questions, QStringList{ListsQuestion3});
}

// The item carries no address; the run names it in the log and the window
// returns to idle.
TEST_F(RunFixture, CityWithoutUrlIsNamedInTheLog) {
    WriteFile("cities.txt", "Россия, Тверь\r\nРоссия, Омск=https://omsk.quorvel.test\r\n");
    ShowRunForm();
    Site->Open();
    Form->CitiesListBox->selectAll();
    QTest::mouseClick(Form->StartButton, Qt::LeftButton);
    ASSERT_TRUE(WaitRunEnd());
    EXPECT_EQ(CountInLog(QStringLiteral("Россия, Тверь")), 1);
    EXPECT_TRUE(LogLines().last().contains(RunEnded));
    EXPECT_TRUE(Form->StartButton->isEnabled());
    EXPECT_TRUE(Form->CitiesListBox->isEnabled());
}

// What the window's command line asks for is what its runs get, whatever the
// run then does (here: nothing selected, so it ends at once).
TEST_F(RunFixture, CommandLineSettingsReachTheRun) {
    const struct {
        const char* Name;
        QStringList Arguments;
        bool KeepAlive;
        bool VerifyPeer = false;
    } cases[] = {
        {"Default", {}, false},
        {"KeepAlive", {"--keep-alive"}, true},
        {"VerifyPeer", {"--verify-peer"}, false, true},
    };
    WriteFile("cities.txt", ThreeCities);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TScraperSettings settings =
            WindowSettings(ParseWindowArgs(c.Arguments + QStringList{"--dir", Dir.path()}));
        settings.NewFetchThread = [site = Site] { return new TFakeScrapingThread(site); };
        ShowForm(std::move(settings));
        QTest::mouseClick(Form->StartButton, Qt::LeftButton);
        ASSERT_TRUE(WaitRunEnd());
        ASSERT_NE(Form->Scraper(), nullptr);
        EXPECT_EQ(Form->Scraper()->Settings().KeepAlive, c.KeepAlive);
        EXPECT_EQ(Form->Scraper()->Settings().VerifyPeer, c.VerifyPeer);
    }
}

// Closing during a run stops it as the stop button does; the window stays open
// until the run end has saved the work lists and the log, then saves the selection.
TEST_F(RunFixture, ClosingDuringARunSavesTheListsBeforeTheWindowCloses) {
    StartWith({0, 1, 2});
    ASSERT_TRUE(WaitStarted(2));
    EXPECT_FALSE(Form->close());
    EXPECT_TRUE(Form->isVisible());
    EXPECT_FALSE(Form->close()); // a second request meanwhile is ignored
    ASSERT_TRUE(QTest::qWaitFor([this] { return !Form->isVisible(); }, RunBoundMs));
    EXPECT_FALSE(Form->RunInProgress());
    EXPECT_EQ(CountInLog(Stopping), 1);
    // The two cities in flight go back ahead of the one not taken yet.
    EXPECT_EQ(ReadFile("lists.dat"),
              QByteArray("\xEF\xBB\xBFtomsk.quorvel.test\r\nomsk.quorvel.test\r\n"
                         "tver.quorvel.test\r\n"));
    const QByteArray known = ReadFile("allknown.dat");
    for (const char* key : {"tomsk.quorvel.test", "omsk.quorvel.test", "tver.quorvel.test"})
        EXPECT_TRUE(known.contains(key)) << key;
    ASSERT_EQ(LogFiles().size(), 1);
    EXPECT_TRUE(ReadFile(LogFiles()[0]).contains(RunEnded.toUtf8()));
    EXPECT_EQ(ReadFile("selection.txt"),
              QByteArray("Россия, Томск\r\nРоссия, Омск\r\nРоссия, Тверь\r\n"));
}

// While another process runs in the directory, START names it in the log and
// changes nothing; once it has gone, START works.
TEST_F(RunFixture, StartWhileAnotherProcessRunsHereNamesIt) {
    auto other = LockRunDir(TRunFiles(Dir.path()));
    StartWith({0});
    EXPECT_FALSE(Form->RunInProgress());
    EXPECT_TRUE(LastLogLineEndsWith(
        QStringLiteral("процесс %1 (app_tests) пользователя %2. Дождитесь её окончания или "
                       "остановите её; если в каталоге никто не работает, удалите файл %3.")
            .arg(QCoreApplication::applicationPid())
            .arg(QString::fromLocal8Bit(::getpwuid(::geteuid())->pw_name),
                 TRunFiles(Dir.path()).Lock())))
        << qPrintable(LogLines().last());
    EXPECT_FALSE(Exists("lists.dat"));
    other.reset();
    QTest::mouseClick(Form->StartButton, Qt::LeftButton);
    ASSERT_TRUE(WaitStarted(1));
}

TEST_F(RunFixture, ClosingWhenIdleClosesAtOnce) {
    StartWith({});
    ASSERT_TRUE(WaitRunEnd());
    EXPECT_TRUE(Form->close());
    EXPECT_EQ(CountInLog(Stopping), 0);
}
