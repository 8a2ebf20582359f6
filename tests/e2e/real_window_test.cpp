#include "tests/support/scraper_process.h"
#include "tests/support/x_session.h"

#include "testsite/site_server.h"

#include <QFile>
#include <QPoint>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <iterator>
#include <memory>
#include <sys/prctl.h>
#include <vector>

#include "tests/qt_print.h"

namespace {

// The window as a user meets it, on a real X server with a real window manager,
// on a machine that two busy loops keep busy: select every city with "все", press
// START, wait for the run's end, close the window through the window manager. In
// one round of three the window is closed while the run goes on.

constexpr int LoadLoops = 2;
// Each loop ends by itself after this long, past the test's time-out; the test kills
// both at its end, also on a failure, and they die with it when it is killed.
constexpr int LoadSeconds = 200;
constexpr int WindowLimitMs = 30000;
constexpr int RunLimitMs = 90000;
constexpr int ExitLimitMs = 30000;

// A second line of cities.txt, without an address: selected by "все" and kept in
// selection.txt; the run names it in the log and crawls the site's city alone.
const QString CityWithoutAddress = QStringLiteral("Россия, Безадресово");
// The card held back in the round closed mid-run, so that the run cannot end before
// the close.
const QString HeldCard = QStringLiteral("/firm/114-apteka-zdorovie/");

// The client area is 984 by 424; "все" is anchored to the left and the
// bottom, START to the top and the right, so their centres follow the window's size.
QPoint SelectAllCentre(const QSize& size) {
    return {194 + 41 / 2, size.height() - (424 - 374) + 25 / 2};
}

QPoint StartCentre(const QSize& size) {
    return {size.width() - (984 - 291) + 446 / 2, 8 + 37 / 2};
}

// Busy loops of their own processes, started when made and killed when destroyed.
class TBusyLoops {
public:
    explicit TBusyLoops(int count) {
        const QString loop = QStringLiteral("while ((SECONDS < %1)); do :; done").arg(LoadSeconds);
        for (int i = 0; i < count; ++i) {
            auto process = std::make_unique<QProcess>();
            process->setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
            process->start(QStringLiteral("bash"), {QStringLiteral("-c"), loop});
            process->waitForStarted();
            FLoops.push_back(std::move(process));
        }
    }
    ~TBusyLoops() {
        for (auto& process : FLoops) {
            process->kill();
            process->waitForFinished();
        }
    }
    bool Running() const {
        for (const auto& process : FLoops)
            if (process->state() != QProcess::Running)
                return false;
        return true;
    }

private:
    std::vector<std::unique_ptr<QProcess>> FLoops;
};

QString LogText(const TScraperDir& dir) {
    const QStringList logs = dir.Files(QStringLiteral("log-*.txt"));
    return logs.isEmpty() ? QString() : QString::fromUtf8(dir.ReadBytes(logs.last()));
}

// Rows written so far; a row being written counts once whole.
int RowsWritten(const TScraperDir& dir) {
    int rows = 0;
    for (const QString& name : dir.Files(QStringLiteral("data*.csv")))
        rows += int(dir.ReadBytes(name).count("\r\n")) - 1;
    return rows;
}

// What a failed wait shows: the files, the saved log and what the program said.
QString Report(const TScraperDir& dir, TScraperRun& window) {
    return QStringLiteral("\nfiles: ") + dir.Files().join(QStringLiteral(", ")) +
           QStringLiteral("\nlog:\n") + LogText(dir) + QStringLiteral("\nstandard error:\n") +
           window.ErrorText();
}

enum class TClose { AfterTheRun, MidRun };

class RealWindow : public testing::Test {
protected:
    void Round(TClose close);
    // Finds the window of the program (bounded), then clicks "все" and START on it.
    void SelectAllAndStart(const TScraperDir& dir, TScraperRun& window, unsigned long& id);
    // What a close in the middle of the run leaves: the stopped run saved its lists,
    // the held card leads them, and a resume writes every row the window did not.
    void ExpectListsSavedAndNothingLost(const TScraperDir& dir);

    TXSession X;
    TBusyLoops Load{LoadLoops};
    TSiteServer Site;
};

void RealWindow::Round(TClose close) {
    const TSiteModel& model = Site.Model();
    TScraperDir dir({model.CityLine(), CityWithoutAddress});
    if (close == TClose::MidRun)
        Site.HoldWhen([](const QString& path) { return path == HeldCard; });
    QProcessEnvironment environment = X.Environment();
    environment.insert(QStringLiteral("QUORVEL_BASE_URL"), Site.BaseUrl());
    TScraperRun window(QStringLiteral(QUORVEL_SCRAPER_PATH), dir, {"--dir", dir.Path()},
                       environment);
    unsigned long id = 0;
    ASSERT_NO_FATAL_FAILURE(SelectAllAndStart(dir, window, id));

    // The run's end (its log saved), or in the mid-run round its first rows with the
    // held card in flight; then the window manager's close.
    const auto closeTime = [&] {
        if (close == TClose::AfterTheRun)
            return EndsTheRun(LogText(dir));
        return RowsWritten(dir) >= 1 && !Site.HeldPaths().isEmpty();
    };
    ASSERT_TRUE(window.WaitUntil(closeTime, RunLimitMs))
        << "the run did not get there" << qPrintable(Report(dir, window));
    ASSERT_TRUE(X.Close(id));
    ASSERT_EQ(window.WaitForExit(ExitLimitMs), 0)
        << "the program did not end by itself after the close" << qPrintable(Report(dir, window));

    // The selection is kept: every city, in list order, CR LF after each; and the run
    // read it: it named the city without an address.
    EXPECT_EQ(dir.ReadBytes("selection.txt"),
              (model.CityLabel() + "\r\n" + CityWithoutAddress + "\r\n").toUtf8());
    EXPECT_TRUE(LogText(dir).contains(CityWithoutAddress)) << qPrintable(LogText(dir));
    if (close == TClose::MidRun) {
        ExpectListsSavedAndNothingLost(dir);
        return;
    }
    EXPECT_EQ(dir.Files(QStringLiteral("data*.csv")).size(), 1);
    ExpectWholeCrawl(dir, model);
}

// No earlier run left lists in the directory, so START asks nothing.
void RealWindow::SelectAllAndStart(const TScraperDir& dir, TScraperRun& window, unsigned long& id) {
    ASSERT_TRUE(window.WaitUntil(
        [&] { return (id = X.FindWindow(window.ProcessId(), QStringLiteral("Quorvel"))) != 0; },
        WindowLimitMs))
        << "no window mapped and managed" << qPrintable(Report(dir, window));
    const QSize size = X.WindowSize(id);
    ASSERT_FALSE(size.isEmpty());
    ASSERT_TRUE(X.Click(id, SelectAllCentre(size).x(), SelectAllCentre(size).y()));
    ASSERT_TRUE(X.Click(id, StartCentre(size).x(), StartCentre(size).y()));
}

void RealWindow::ExpectListsSavedAndNothingLost(const TScraperDir& dir) {
    const TSiteModel& model = Site.Model();
    const QString log = LogText(dir);
    EXPECT_TRUE(log.contains(QStringLiteral("Останавливаем работу"))) << qPrintable(log);
    EXPECT_TRUE(EndsTheRun(log)) << qPrintable(log);
    EXPECT_FALSE(QFile::exists(dir.Path("journal.dat")));
    const QStringList lists = CrLfLines(dir.ReadBytes("lists.dat"));
    const QString heldLink = model.BaseUrl().mid(8) + HeldCard;
    EXPECT_TRUE(std::any_of(lists.begin(), lists.end(), [&](const QString& entry) {
        return entry == heldLink || entry.startsWith(heldLink + "|||");
    })) << qPrintable(lists.join("\n"));
    EXPECT_FALSE(CrLfLines(dir.ReadBytes("allknown.dat")).isEmpty());
    const int written = RowsWritten(dir);
    EXPECT_GE(written, 1);
    EXPECT_LT(written, model.ExpectedRecords().size());

    Site.ReleaseHeld();
    TScraperRun resumed(dir, {"--headless", "--resume", "--dir", dir.Path()}, Site.BaseUrl());
    ASSERT_EQ(resumed.WaitForExit(), 0) << qPrintable(resumed.ErrorText());
    ExpectWholeCrawl(dir, model);
}

// Three rounds on one desktop under load; the second closes the window mid-run.
TEST_F(RealWindow, ClosedThroughTheWindowManagerItKeepsTheSelectionAndLosesNothing) {
    ASSERT_TRUE(X.Failure().isEmpty()) << qPrintable(X.Failure());
    ASSERT_TRUE(Load.Running());
    const TClose rounds[] = {TClose::AfterTheRun, TClose::MidRun, TClose::AfterTheRun};
    for (size_t round = 0; round < std::size(rounds); ++round) {
        SCOPED_TRACE(testing::Message() << "round " << round + 1);
        Round(rounds[round]);
        Site.ReleaseHeld();
    }
    // The load lasted the whole test.
    EXPECT_TRUE(Load.Running());
}

} // namespace
