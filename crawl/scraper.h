#pragma once

#include "crawl/name_value_list.h"
#include "crawl/run_files.h"
#include "crawl/run_view.h"
#include "crawl/skip_list.h"
#include "crawl/work_lists.h"
#include "platform/thread_base.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

class TConnectionPool;
class TScrapingThread;
struct TRunLists;
struct TRunLinkLists;
class TDataFile;
class TFileLock;

// What a run did: pages fetched whole, fetches that failed, rows written.
struct TRunTotals {
    int PagesFetched = 0;
    int PagesFailed = 0;
    int RowsWritten = 0;
};

// The pause after a failure of the loop; its log line says it in seconds.
constexpr int DefaultFailurePauseMs = 30000;

// Where a run keeps its files, which site it starts from and how it makes its
// fetch threads. The defaults are the program's; tests point them elsewhere.
struct TScraperSettings {
    QString BaseDir;                                  // empty = ChooseFilesDir's default
    QString SiteBaseUrl;                              // empty = SiteBaseUrl()
    std::function<TScrapingThread*()> NewFetchThread; // empty = real fetch threads
    int FailurePauseMs = DefaultFailurePauseMs; // tests shorten it; the log line does not change
    // Off only where the journal's cost is measured (bench/journal): no lists
    // saved at the start, no journal, no syncs during the run.
    bool KeepJournal = true;
    // Requests go out as HTTP/1.1 and a connection the server keeps open serves
    // the run's next page to the same site (--keep-alive). Off: one HTTP/1.0
    // connection per page.
    bool KeepAlive = false;
    // The server's certificate is checked (--verify-peer[=CAFILE]): its chain against
    // the certificates of CaFile, or the system's trust store when CaFile is empty,
    // and its name against the host. Off: not checked.
    bool VerifyPeer = false;
    QString CaFile;
};

// The crawl controller: owns one run, from loading its inputs to saving its work
// lists and log.
//
// Execute runs on the controller's own thread and owns everything of the run: its
// lists (TWorkLists, which keeps the promise that nothing the run finds is lost,
// and SkipList, CityList), the data file and the counters. The controller loads
// the inputs, hands the work list's entries to fetch threads, routes the pages
// they bring back and ends the run. It reaches the window only through its window
// steps (a log line, the window set running or idle, the progress and the
// counters refreshed, the resume timer armed, a failure reported) and two reads
// (the thread limit and the selected cities), each run on the main thread through
// Synchronize while this thread waits; they talk to the TRunView given at
// construction, which must outlive the run and its fetch threads. The run's fetch
// threads share only TRunLists (ListLock, RunningList, FinishedList) with it, held
// by shared_ptr: fetch threads still running when a run ends on a stop or a
// failure are handed to the orphan keeper (crawl/orphan_threads.h), which joins
// and deletes them later.
//
// Created suspended; the front end starts it, may Suspend/Resume it and request
// its stop (Terminate), reads Finished/Paused, and destroys it once it has ended.
class TScraper : public TThreadBase {
public:
    explicit TScraper(TRunView& view, TScraperSettings settings = {});
    ~TScraper() override;

    // True once the run has ended after a failure (loading its inputs, creating
    // the data file, the dispatch loop or saving its lists). Read after Finished().
    bool Failed() const { return FFailed.load(); }
    // The run's totals. Read after Finished().
    TRunTotals Totals() const { return {FPagesFetched, FPagesFailed, FirmsWritten}; }
    // The settings the run was made with, its defaults filled in.
    const TScraperSettings& Settings() const { return FSettings; }

    // The lock of the run's directory (LockRunDir, crawl/run_lock.h), held until the run has
    // ended. Set before Start().
    void HoldLock(std::unique_ptr<TFileLock> lock);

protected:
    void Execute() override;

private:
    enum class TRunEnd { Done, Stopped, Failed, InputFailed };

    // A failure of the dispatch loop, kept until ReportOutcome logs it: its text as
    // the log shows it, and whether it ends the run without the pause.
    struct TLoopFailure {
        QString Reason;
        bool EndsRun = false;
    };

    TRunEnd Run();
    void StartRun();
    void LoadInputs();
    void BuildStartEntries();
    void LoadSkipList();
    void DropSkippedAndBlankEntries();
    void OpenDataFile();
    void BeginJournal();
    TRunEnd DispatchLoop();
    void StartOneJob();
    void StartFetchThread(const TWorkLists::TTakenJob& taken);
    void CollectOneResult();
    bool WorkIsDone();
    void FailJob(int64_t job);
    void RoutePage(int64_t job, const TScrapingThread& thread, const QString& page);
    void WriteCard(int64_t job, const TScrapingThread& thread, const QString& page);
    TRunLinkLists RunLinkLists() const;
    void CommitRouting(int64_t job, const TRoutedLinks& links, const QString& url);
    void SyncNowAndThen();
    bool IsKnown(const QString& key) const;
    bool IsSkipped(const QString& key) const;
    void FinishRun(TRunEnd how);
    bool FetchThreadsRemain();
    void StopRunningFetchThreads();
    void CloseDataFile();
    void SaveWorkLists();
    void LogFailedPages();
    void ReleaseRun();
    void TryStep(const std::function<void()>& step);
    void TryLog(const QString& text);
    void Log(const QString& text);
    void Sleep1ms() const;
    int RunningCount();

    // The window steps; RunStep runs one on the main thread while this thread waits.
    void RunStep(void (TScraper::*step)());
    void AppendLogLine();
    void SetRunningUi();
    void RefreshProgress();
    void RefreshCounters();
    void ArmResumeTimer();
    void ReportOutcome();
    bool ThrottleOpen() const;
    // A window refresh, when the throttle lets it show.
    void ShowProgress();
    void ShowCounters();

    TRunView& FView;
    TScraperSettings FSettings;
    TRunFiles FFiles;
    std::unique_ptr<TFileLock> FLock;
    std::shared_ptr<TRunLists> FLists;
    // The connections kept between pages (KeepAlive), shared with the fetch threads.
    std::shared_ptr<TConnectionPool> FConnections;
    std::unique_ptr<TDataFile> FDataFile;
    TWorkLists FWork{FFiles};
    QHash<const TScrapingThread*, int64_t> FJobOf; // the job each running fetch thread runs
    uint32_t FLastSync = 0;
    bool FInputsLoaded = false;
    bool FForceCounters = false;
    std::atomic<bool> FFailed{false};
    int FPagesFetched = 0;
    int FPagesFailed = 0;

    TLoopFailure result;
    QString LogMessageText;
    bool CursorHourGlass = false;
    int32_t ProgressBarPosition = 0;
    int32_t ProgressBarMax = 0;
    int32_t firmscounter = 0;
    int32_t FirmsWritten = 0;
    uint32_t timerslastupdated = 0;
    int32_t Limit = 0;

    // The lists the controller reads; only FWork changes them.
    const QStringList& WorkList = FWork.WorkList();
    const TNameValueList& RubricList = FWork.RubricList();
    const QStringList& FailedList = FWork.FailedList();
    TSkipList SkipList;
    TNameValueList CityList; // city URL -> label, the first line of a URL winning
};
