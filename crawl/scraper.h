#pragma once

#include "crawl/name_value_list.h"
#include "crawl/run_files.h"
#include "crawl/run_journal.h"
#include "crawl/run_view.h"
#include "platform/thread_base.h"

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
struct TSavedRun;

// What a run did: pages fetched whole, fetches that failed, rows written.
struct TRunTotals {
    int PagesFetched = 0;
    int PagesFailed = 0;
    int RowsWritten = 0;
};

// Where a run keeps its files, which site it starts from and how it makes its
// fetch threads. The defaults are the program's; tests point them elsewhere.
struct TScraperSettings {
    QString BaseDir;                                  // empty = ChooseFilesDir's default
    QString SiteBaseUrl;                              // empty = SiteBaseUrl()
    std::function<TScrapingThread*()> NewFetchThread; // empty = real fetch threads
    int FailurePauseMs = 30000;                       // the pause after a failure of the loop
    // Off only where the journal's cost is measured (bench/journal): no lists
    // saved at the start, no journal, no syncs during the run.
    bool KeepJournal = true;
    // Requests go out as HTTP/1.1 and a connection the server keeps open serves
    // the run's next page to the same site (--keep-alive). Off: one HTTP/1.0
    // connection per page.
    bool KeepAlive = false;
};

// The crawl controller: owns one run, from loading its inputs to saving its work
// lists and log.
//
// Execute runs on the controller's own thread and owns every list of the run
// (WorkList, KnownList, SkipList, CityList, RubricList, FailedList, the jobs
// taken and not yet finished), the data file, the run's journal and the
// counters. Nothing the run has found is lost: jobs taken and not finished go
// back to the front of the work list at the run's end, pages that fail are kept
// in failed.dat, and every change to the lists is written to the journal before
// it is made, so a run that never reaches its end can be continued. It reaches the window only
// through its six window steps, each run on the main thread through Synchronize while this thread
// waits; the steps talk to the TRunView given at construction, which must outlive the run and its
// fetch threads. The run's fetch threads share only TRunLists (ListLock, RunningList, FinishedList)
// with it, held by shared_ptr: fetch threads still running when a run ends on a stop or a failure
// are handed to the orphan keeper (crawl/orphan_threads.h), which joins and deletes them later.
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

    // A job taken from the work list and not finished yet: its number in the
    // journal, its entry, and the fetch thread running it (none for a blank entry).
    // A failure of the dispatch loop, kept until ReportOutcome logs it: its text as
    // the log shows it, and whether it ends the run without the pause.
    struct TLoopFailure {
        QString Reason;
        bool EndsRun = false;
    };

    struct TTakenJob {
        int64_t Job;
        QString Entry;
        const TScrapingThread* Thread;
    };

    TRunEnd Run();
    void StartRun();
    void LoadInputs();
    void ResumeSavedRun(const TSavedRun& saved);
    void BuildStartEntries();
    void AddStartEntry(const TCityItem& item);
    QString NothingToCrawl(bool citySelected) const;
    void LoadSkipList();
    void DropSkippedAndBlankEntries();
    void OpenDataFile();
    void BeginJournal();
    TRunEnd DispatchLoop();
    void StartOneJob();
    void StartFetchThread(TTakenJob& taken);
    void CollectOneResult();
    bool WorkIsDone();
    void FailJob(int64_t job);
    void RoutePage(int64_t job, const TScrapingThread& thread, const QString& page);
    void WriteCard(int64_t job, const TScrapingThread& thread, const QString& page);
    TRunLinkLists RunLinkLists() const;
    void CommitRouting(int64_t job, const TRoutedLinks& links, const QString& url);
    void FinishJob(int64_t job, const TRoutedLinks& links, int64_t dataSize);
    QString TakeTakenJob(int64_t job);
    int64_t TakenJobOf(const TScrapingThread* thread) const;
    void SyncNowAndThen();
    bool IsKnown(const QString& key) const;
    void AddKnown(const QString& key);
    bool IsSkipped(const QString& key) const;
    void FinishRun(TRunEnd how);
    bool FetchThreadsRemain();
    void StopRunningFetchThreads();
    void CloseDataFile();
    void SaveWorkLists();
    void PutBackTakenJobs();
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
    QString FreeLogPath() const;

    TRunView& FView;
    TScraperSettings FSettings;
    TRunFiles FFiles;
    std::unique_ptr<TFileLock> FLock;
    std::shared_ptr<TRunLists> FLists;
    // The connections kept between pages (KeepAlive), shared with the fetch threads.
    std::shared_ptr<TConnectionPool> FConnections;
    std::unique_ptr<TDataFile> FDataFile;
    TRunJournal FJournal;
    QList<TTakenJob> FTaken; // in the order taken
    int64_t FNextJob = 1;
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

    QStringList WorkList;
    QStringList KnownList;     // sorted by CompareTextIgnoreCase, no two entries the same text
    QStringList SkipList;      // sorted by CompareTextIgnoreCase
    TNameValueList CityList;   // city URL -> label, the first line of a URL winning
    TNameValueList RubricList; // subrubric link key -> rubric name, the first one winning
    QStringList FailedList;    // entries of the pages that failed in this run, no two alike
};
