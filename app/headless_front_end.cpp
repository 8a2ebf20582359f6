#include "app/headless_front_end.h"

#include "app/headless_run_view.h"
#include "app/run_commands.h"
#include "app/terminal_text.h"
#include "crawl/city_list.h"
#include "crawl/orphan_threads.h"
#include "crawl/resume_files.h"
#include "crawl/run_lock.h"
#include "crawl/saved_run.h"
#include "crawl/scraper.h"
#include "platform/executable_dir.h"
#include "platform/file_lock.h"
#include "platform/log_line.h"
#include "platform/text_file.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

std::atomic<int> StopSignals{0};
constexpr int SignalPollMs = 50;

// The first SIGINT or SIGTERM asks the run to stop (seen by the signal poll); a
// second one ends the process at once.
void HandleStopSignal(int) {
    if (StopSignals.fetch_add(1) > 0)
        _exit(130);
}

void InstallStopSignals() {
    struct sigaction action {};
    action.sa_handler = HandleStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void PrintError(const QString& text) {
    std::fputs(TerminalText("quorvel-scraper: " + text).toUtf8().append('\n').constData(), stderr);
}

// Enter means Yes, as the window's default button; end of input means No, which
// keeps the files.
bool AskOnTerminal(const QString& question) {
    for (;;) {
        std::fputs((question + " [Y/n] ").toUtf8().constData(), stderr);
        std::fflush(stderr);
        std::string line;
        if (!std::getline(std::cin, line))
            return false;
        const QString answer = QString::fromUtf8(line).trimmed().toLower();
        if (answer.isEmpty() || answer == "y" || answer == "yes" || answer == "д" || answer == "да")
            return true;
        if (answer == "n" || answer == "no" || answer == "н" || answer == "нет")
            return false;
    }
}

// One headless run: picks the cities, settles START's questions, then runs one
// controller with a terminal view on the main thread's event loop.
class THeadlessFrontEnd {
public:
    THeadlessFrontEnd(THeadlessOptions options, QString baseDir)
        : FOptions(std::move(options)), FBaseDir(std::move(baseDir)) {}

    int Run();

private:
    int SelectCities(QList<TCityItem>& items, QList<TCityItem>& selection);
    int RefuseNothingToCrawl(const QList<TCityItem>& items, const QList<TCityItem>& selection);
    int PrepareFiles(std::unique_ptr<TFileLock>& lock);
    void CheckStopSignals();
    void Stop();
    void ResumeTimerTimer();
    bool RunInProgress() const { return FScraper && !FScraper->Finished(); }

    THeadlessOptions FOptions;
    QString FBaseDir;
    std::unique_ptr<THeadlessRunView> FView;
    std::unique_ptr<TScraper> FScraper;
    QTimer FResumeTimer;
    QTimer FSignalPoll;
    bool FStopSeen = false;
};

int THeadlessFrontEnd::Run() {
    QList<TCityItem> items, selection;
    if (const int status = SelectCities(items, selection); status != 0)
        return status;
    if (const int status = RefuseNothingToCrawl(items, selection); status != 0)
        return status;
    std::unique_ptr<TFileLock> lock;
    if (const int status = PrepareFiles(lock); status != 0)
        return status;
    FView = std::make_unique<THeadlessRunView>(selection, stdout, stderr, isatty(2) != 0,
                                               FOptions.Threads);
    FResumeTimer.setSingleShot(true);
    QObject::connect(&FResumeTimer, &QTimer::timeout, [this] { ResumeTimerTimer(); });
    FView->OnArmResumeTimer = [this](int milliseconds) { FResumeTimer.start(milliseconds); };
    QObject::connect(&FSignalPoll, &QTimer::timeout, [this] { CheckStopSignals(); });
    InstallStopSignals();
    TScraperSettings settings;
    settings.BaseDir = FBaseDir;
    settings.KeepAlive = FOptions.KeepAlive;
    settings.VerifyPeer = FOptions.VerifyPeer;
    settings.CaFile = FOptions.CaFile;
    FScraper = std::make_unique<TScraper>(*FView, settings);
    FScraper->HoldLock(std::move(lock));
    FScraper->SetOnFinished([] {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
    });
    QElapsedTimer runTime;
    runTime.start();
    FScraper->Start();
    FSignalPoll.start(SignalPollMs);
    QCoreApplication::exec();
    ShutDownFetchThreads();
    const bool failed = FScraper->Failed();
    const TRunTotals totals = FScraper->Totals();
    FScraper.reset();
    FView.reset();
    PrintError(RunSummary(totals, runTime.elapsed()));
    return failed ? 1 : 0;
}

// The cities that --all, --city or selection.txt name. Status 2 when a --city
// label names no city (the user surely meant one), 1 when cities.txt or
// selection.txt cannot be read.
int THeadlessFrontEnd::SelectCities(QList<TCityItem>& items, QList<TCityItem>& selection) {
    try {
        items = ParseCityLines(ReadTextFileLines(TRunFiles(FBaseDir).Cities()));
    } catch (const ETextFileError& error) {
        PrintError(error.Message());
        return 1;
    }
    QStringList labels = FOptions.Cities;
    for (const QString& label : labels) {
        if (MatchSelection(items, {label}).isEmpty()) {
            PrintError(QStringLiteral("no city labelled \"%1\" in %2")
                           .arg(label, TRunFiles(FBaseDir).Cities()));
            return 2;
        }
    }
    const QString saved = TRunFiles(FBaseDir).Selection();
    if (!FOptions.All && labels.isEmpty() && QFile::exists(saved)) {
        try {
            labels = ReadTextFileLines(saved);
        } catch (const ETextFileError& error) {
            PrintError(error.Message());
            return 1;
        }
    }
    if (FOptions.All) {
        selection = items;
        return 0;
    }
    for (int index : MatchSelection(items, labels))
        selection.append(items[index]);
    return 0;
}

// A run needs a city to start from, unless --resume continues an earlier run that
// left work: without one it is refused as a usage error, before any file changes.
// Status 1 when the saved lists cannot be read.
int THeadlessFrontEnd::RefuseNothingToCrawl(const QList<TCityItem>& items,
                                            const QList<TCityItem>& selection) {
    if (std::any_of(selection.begin(), selection.end(), HasCrawlableUrl))
        return 0;
    int saved = 0;
    try {
        saved = ReadSavedRun(TRunFiles(FBaseDir), false).Entries();
    } catch (const ETextFileError& error) {
        PrintError(error.Message());
        return 1;
    }
    if (FOptions.Resume && saved > 0)
        return 0;
    QString why = items.isEmpty()       ? TRunFiles(FBaseDir).Cities() + " lists no city"
                  : selection.isEmpty() ? QStringLiteral("no city selected")
                                        : QStringLiteral("no selected city has an address");
    if (saved > 0 && !FOptions.Fresh)
        why += QStringLiteral(" (--resume continues the earlier run)");
    PrintError(QStringLiteral("nothing to crawl: ") + why);
    std::fputs(HeadlessUsageLine().toUtf8().constData(), stderr);
    return 2;
}

// START's two questions: answered by --fresh / --resume, else asked on the
// terminal. Without a terminal nothing is changed and the status is 2. The
// directory's lock is taken before any file changes and kept for the run; a
// directory where another process runs gives status 1.
int THeadlessFrontEnd::PrepareFiles(std::unique_ptr<TFileLock>& lock) {
    try {
        const bool ask = !FOptions.Fresh && !FOptions.Resume;
        if (ask && !isatty(0) && StartNeedsQuestions(FBaseDir)) {
            PrintError(QStringLiteral("an earlier run left its work lists; no terminal to ask "
                                      "on: pass --fresh to discard them or --resume to keep them"));
            return 2;
        }
        lock = LockRunDir(TRunFiles(FBaseDir));
        PrepareStartFiles(FBaseDir, [this, ask](const QString& question) {
            return ask ? AskOnTerminal(question) : FOptions.Fresh;
        });
    } catch (const Exception& error) {
        PrintError(error.Message());
        return 1;
    }
    return 0;
}

// A signal handler may only set a flag; the main thread looks at it this often.
void THeadlessFrontEnd::CheckStopSignals() {
    if (StopSignals.load() > 0 && !FStopSeen) {
        FStopSeen = true;
        Stop();
    }
}

// As the window's stop button.
void THeadlessFrontEnd::Stop() {
    if (RunInProgress())
        StopRun(*FScraper, *FView);
}

void THeadlessFrontEnd::ResumeTimerTimer() {
    if (RunInProgress())
        EndPause(*FScraper, *FView);
}

} // namespace

int RunHeadless(int argc, char** argv, const THeadlessOptions& options) {
    if (!options.Error.isEmpty()) {
        PrintError(options.Error);
        std::fputs(ProgramUsage().toUtf8().constData(), stderr);
        return 2;
    }
    if (options.Help || options.Version) {
        std::fputs((options.Help ? ProgramUsage() : ProgramVersion()).toUtf8().constData(), stdout);
        return 0;
    }
    QString baseDir;
    try {
        baseDir = PrepareFilesDir(options.Dir);
    } catch (const Exception& error) {
        PrintError(error.Message());
        return 1;
    }
    QCoreApplication app(argc, argv);
    THeadlessFrontEnd frontEnd(options, baseDir);
    return frontEnd.Run();
}
