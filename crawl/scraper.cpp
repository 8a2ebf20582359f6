#include "crawl/scraper.h"

#include "crawl/city_list.h"
#include "crawl/data_file.h"
#include "crawl/orphan_threads.h"
#include "crawl/page_extraction.h"
#include "crawl/page_routing.h"
#include "crawl/saved_run.h"
#include "crawl/site_url.h"
#include "crawl/text_utils.h"
#include "fetch/connection_pool.h"
#include "fetch/job_line.h"
#include "fetch/scraping_thread.h"
#include "platform/durable_file.h"
#include "platform/exception.h"
#include "platform/executable_dir.h"
#include "platform/file_lock.h"
#include "platform/log_line.h"
#include "platform/text_compare.h"
#include "platform/text_file.h"
#include "platform/tick_count.h"

#include <chrono>
#include <thread>
#include <utility>

namespace {

// What a failure's message says when the run ends without the pause: a disk that
// refuses writes, or any failure that says so itself.
const QString RunEndsText = QStringLiteral("завершаем работу");

// The journal and the data file are handed to the disk itself at most this often:
// a power loss then costs at most this much work, fetched again.
constexpr uint32_t SyncIntervalMs = 1000;

// The link an entry fetches: a card job line's card link, or the entry itself.
QString EntryLink(const QString& entry) {
    return SplitJobLine(entry).Url;
}

// The job a work-list entry stands for, its URL with the scheme the stored link
// leaves off.
TJob FetchJob(const QString& entry) {
    TJob job = SplitJobLine(entry);
    job.Url = AddScheme(job.Url);
    return job;
}

// The message of the failure being handled, for the log.
QString FailureMessage() {
    return CurrentExceptionMessage(QStringLiteral("неизвестная ошибка"));
}

TScraperSettings WithDefaults(TScraperSettings settings) {
    if (settings.BaseDir.isEmpty())
        settings.BaseDir = ChooseFilesDir({}, ExecutableDir());
    if (settings.SiteBaseUrl.isEmpty())
        settings.SiteBaseUrl = SiteBaseUrl();
    if (!settings.NewFetchThread)
        settings.NewFetchThread = [] { return new TScrapingThread; };
    return settings;
}

} // namespace

TScraper::TScraper(TRunView& view, TScraperSettings settings)
    : FView(view), FSettings(WithDefaults(std::move(settings))), FFiles(FSettings.BaseDir),
      timerslastupdated(TickCount()) {}

// The run's members must outlive its thread, so the thread ends here, before
// they are destroyed; the base's destructor then finds nothing left to join.
TScraper::~TScraper() {
    if (!Started())
        return;
    Terminate();
    Resume();
    WaitFor();
}

void TScraper::HoldLock(std::unique_ptr<TFileLock> lock) {
    FLock = std::move(lock);
}

// The lock is let go only once the run has saved everything, so the next run in
// the directory starts from what this one left.
void TScraper::Execute() {
    ReapFinishedOrphans();
    const TRunEnd how = Run();
    if (how == TRunEnd::Failed || how == TRunEnd::InputFailed)
        FFailed = true;
    FinishRun(how);
    ReapFinishedOrphans();
    FLock.reset();
}

// A failure while the inputs load is logged and ends the run at once; a failure
// of the loop is reported with its pause (ReportOutcome). A disk that refuses
// writes ends the run without the pause: waiting does not free it, and the run
// ends after the pause all the same.
TScraper::TRunEnd TScraper::Run() {
    try {
        StartRun();
        LoadInputs();
    } catch (...) {
        TryLog(QStringLiteral("Ошибка: ") + FailureMessage());
        return TRunEnd::InputFailed;
    }
    try {
        return DispatchLoop();
    } catch (const EFileWriteError& failure) {
        result = {failure.Message() + QStringLiteral(", ") + RunEndsText, true};
    } catch (...) {
        const QString reason = FailureMessage();
        result = {reason, reason.contains(RunEndsText)};
    }
    try {
        RunStep(&TScraper::ReportOutcome);
    } catch (...) {
        // The report itself failed: nothing is left to show it on; the run still ends.
    }
    Checkpoint();
    return TRunEnd::Failed;
}

// The shared lists for the fetch threads, the thread limit, the window set running.
void TScraper::StartRun() {
    FLists = std::make_shared<TRunLists>();
    Synchronize([this] { Limit = FView.ThreadLimit(); });
    if (FSettings.KeepAlive)
        FConnections = std::make_shared<TConnectionPool>(Limit);
    CursorHourGlass = true;
    RunStep(&TScraper::SetRunningUi);
    FWork.Reserve();
}

// The inputs: cities.txt, the saved run (its journal replayed) or the start
// entries, skip.txt, then the data file and the journal. The lists count as loaded
// (and are saved at the run's end) only once all of this has succeeded, so stored
// files are never replaced by lists that were not loaded completely. The lists as
// loaded are saved at once, and the journal continues from them.
void TScraper::LoadInputs() {
    Log(QStringLiteral("Начинаем работу..."));
    for (const QString& line : ReadTextFileLines(FFiles.Cities()))
        AddCityListEntry(CityList, line);
    const TSavedRun saved = ReadSavedRun(FFiles, true);
    if (saved.Exists)
        FWork.Resume(saved.Lists);
    else
        BuildStartEntries();
    firmscounter = 0;
    FirmsWritten = 0;
    ShowCounters();
    LoadSkipList();
    DropSkippedAndBlankEntries();
    CutCrashedDataFile(FFiles, saved);
    OpenDataFile();
    if (FSettings.KeepJournal)
        BeginJournal();
    ProgressBarPosition = 0;
    ProgressBarMax = static_cast<int32_t>(WorkList.size());
    FInputsLoaded = true;
}

// The selected cities in list order. A run with nothing to crawl says why and goes
// on as any other: its data file holds the header alone, its lists are saved empty.
void TScraper::BuildStartEntries() {
    QList<TCityItem> selected;
    Synchronize([&] { selected = FView.SelectedCities(); });
    const TStartEntries start =
        StartEntriesOf(selected, FSettings.SiteBaseUrl, CityList.Size(), FFiles.Cities());
    for (const QString& entry : start.Entries)
        FWork.AddStartEntry(entry);
    for (const QString& line : start.LogLines)
        Log(line);
}

void TScraper::LoadSkipList() {
    SkipList.Load(FFiles.Skip());
    if (SkipList.Size() > 0)
        Log(QStringLiteral("В файле skip.txt игнорируемых ссылок: ") +
            QString::number(SkipList.Size()));
}

// skip.txt holds for every entry, loaded or built, as it does for the links found;
// a blank entry would only be paced through the loop.
void TScraper::DropSkippedAndBlankEntries() {
    FWork.DropEntries([this](const QString& entry) {
        return Trim(entry).isEmpty() || IsSkipped(EntryLink(entry));
    });
}

void TScraper::OpenDataFile() {
    FDataFile = std::make_unique<TDataFile>();
    FDataFile->Open(FSettings.BaseDir);
    Log(QStringLiteral("Данные будут записываться в файл ") + FDataFile->FilePath());
}

void TScraper::BeginJournal() {
    FWork.Begin(FDataFile->FileName(), FDataFile->Size());
    FLastSync = TickCount();
}

TScraper::TRunEnd TScraper::DispatchLoop() {
    bool done = false;
    while (!Terminated() && !done) {
        Checkpoint();
        if (Terminated())
            break;
        StartOneJob();
        CollectOneResult();
        SyncNowAndThen();
        if (FConnections)
            FConnections->CloseExpired();
        done = WorkIsDone();
        Sleep1ms();
    }
    return done ? TRunEnd::Done : TRunEnd::Stopped;
}

// A blank entry is finished without a fetch.
void TScraper::StartOneJob() {
    if (RunningCount() >= Limit || WorkList.isEmpty())
        return;
    const TWorkLists::TTakenJob taken = FWork.Take();
    ++ProgressBarPosition;
    ShowProgress();
    if (Trim(taken.Entry).isEmpty())
        return FWork.Finish(taken.Job, {}, -1);
    StartFetchThread(taken);
    Sleep1ms();
}

// A thread that cannot start leaves its job taken: the run's end puts it back.
void TScraper::StartFetchThread(const TWorkLists::TTakenJob& taken) {
    TScrapingThread* thread = FSettings.NewFetchThread();
    thread->Lists = FLists;
    thread->Connections = FConnections;
    thread->VerifyPeer = FSettings.VerifyPeer;
    thread->CaFile = FSettings.CaFile;
    thread->LogsMemo = [view = &FView](const QString& line) { view->AppendLog(line); };
    thread->Job = FetchJob(taken.Entry);
    thread->url = thread->Job.Url; // the log's URL even for a job that ends untried
    thread->Code = TJobCode::Page;
    FJobOf.insert(thread, taken.Job);
    {
        std::lock_guard<std::mutex> guard(FLists->ListLock);
        FLists->RunningList.append(thread);
    }
    try {
        thread->Start();
    } catch (...) {
        FJobOf.remove(thread);
        std::lock_guard<std::mutex> guard(FLists->ListLock);
        FLists->RunningList.removeOne(thread);
        delete thread;
        throw;
    }
}

void TScraper::CollectOneResult() {
    std::unique_ptr<TScrapingThread> thread;
    {
        std::lock_guard<std::mutex> guard(FLists->ListLock);
        if (FLists->FinishedList.isEmpty())
            return;
        thread.reset(FLists->FinishedList.takeFirst());
    }
    const int64_t job = FJobOf.take(thread.get());
    const QString page = std::exchange(thread->html, QString());
    LogMessageText = LogUrl(thread->url) + QStringLiteral(": ") + thread->statusText;
    if (thread->result != TFetchResult::Fetched) {
        ++FPagesFailed;
        FailJob(job);
    } else {
        ++FPagesFetched;
        RoutePage(job, *thread, page);
    }
    thread->Terminate();
    thread->WaitFor();
    thread.reset();
    Sleep1ms();
}

bool TScraper::WorkIsDone() {
    return !FetchThreadsRemain() && WorkList.isEmpty();
}

// A page that failed all its attempts is logged and kept in failed.dat, for a
// later run to try again.
void TScraper::FailJob(int64_t job) {
    FWork.Fail(job);
    RunStep(&TScraper::AppendLogLine);
}

// A city or list page's one log line on what the page limits cut follows its count.
void TScraper::RoutePage(int64_t job, const TScrapingThread& thread, const QString& page) {
    const TPageKind kind = ClassifyPage(thread.Code, thread.url);
    if (kind == TPageKind::CardPage)
        return WriteCard(job, thread, page);
    const TPageRoute route = RouteFoundPage(kind, page, thread.url, RunLinkLists());
    CommitRouting(job, route.Links, thread.url);
    if (route.Cuts.Any())
        Log(PageCutsText(route.Cuts, thread.url));
}

// A row the journal cannot vouch for is cut off again: its job stays taken and
// goes back to the work list, so the row is written once, by a later run.
void TScraper::WriteCard(int64_t job, const TScrapingThread& thread, const QString& page) {
    const int64_t rowStart = FDataFile->Size();
    FDataFile->WriteRecord(ExtractOrganisation(page, thread.url, thread.category,
                                               thread.categoryurl, CityList, RubricList));
    try {
        FWork.Finish(job, {}, FDataFile->Size());
    } catch (...) {
        FDataFile->CutBack(rowStart);
        throw;
    }
    ++FirmsWritten;
    ShowCounters();
}

TRunLinkLists TScraper::RunLinkLists() const {
    return {[this](const QString& key) { return IsKnown(key); },
            [this](const QString& key) { return IsSkipped(key); }};
}

void TScraper::CommitRouting(int64_t job, const TRoutedLinks& links, const QString& url) {
    FWork.Finish(job, links, -1);
    const auto cards = static_cast<int32_t>(links.CardJobs.size());
    firmscounter += cards;
    ProgressBarMax += static_cast<int32_t>(links.ListLinks.size()) + cards;
    Log(QStringLiteral("Найдено ") + QString::number(cards) +
        QStringLiteral(" объектов по ссылке ") + LogUrl(url));
    ShowCounters();
}

// Rows before the journal that vouches for them, so that after a power loss the
// journal never claims a row the data file lost.
void TScraper::SyncNowAndThen() {
    if (!FSettings.KeepJournal || TicksBetween(FLastSync, TickCount()) < SyncIntervalMs)
        return;
    FDataFile->Sync();
    FWork.Sync();
    FLastSync = TickCount();
}

bool TScraper::IsKnown(const QString& key) const {
    return FWork.IsKnown(key);
}

bool TScraper::IsSkipped(const QString& key) const {
    return SkipList.Contains(key);
}

// Run end. Every step is tried even when an earlier one fails, so the window
// always returns to idle and the log is always saved.
void TScraper::FinishRun(TRunEnd how) {
    if (how == TRunEnd::Stopped || Terminated())
        StopRunningFetchThreads();
    if (FConnections)
        FConnections->Close();
    if (how != TRunEnd::Stopped) {
        ProgressBarPosition = 0;
        TryStep([this] { ShowProgress(); });
        timerslastupdated = 0;
        FForceCounters = true;
        TryStep([this] { ShowCounters(); });
    }
    TryStep([this] { CloseDataFile(); });
    if (FInputsLoaded)
        TryStep([this] { SaveWorkLists(); });
    ReleaseRun();
    CursorHourGlass = false;
    TryStep([this] { RunStep(&TScraper::SetRunningUi); });
}

bool TScraper::FetchThreadsRemain() {
    std::lock_guard<std::mutex> guard(FLists->ListLock);
    return !FLists->RunningList.isEmpty() || !FLists->FinishedList.isEmpty();
}

void TScraper::StopRunningFetchThreads() {
    std::lock_guard<std::mutex> guard(FLists->ListLock);
    for (TScrapingThread* thread : FLists->RunningList)
        thread->Terminate();
}

// The rows reach the disk before the lists that count them as written.
void TScraper::CloseDataFile() {
    if (!FDataFile || !FDataFile->IsOpen())
        return;
    FDataFile->Sync();
    FDataFile->Close();
}

// Jobs running at a stop or a failure, finished but not collected, or failing
// while they were routed are saved back at the front of the work list.
void TScraper::SaveWorkLists() {
    FWork.Save();
    LogFailedPages();
}

void TScraper::LogFailedPages() {
    if (FailedList.isEmpty())
        return;
    Log(QStringLiteral("Не удалось загрузить страниц: %1. Они сохранены в %2, продолжение работы "
                       "загрузит их снова")
            .arg(FailedList.size())
            .arg(FFiles.Failed()));
}

// Fetch threads the run did not collect pass to the orphan keeper with the run's
// shared lists; the run's own lists are released.
void TScraper::ReleaseRun() {
    if (FetchThreadsRemain())
        AdoptOrphanThreads(FLists);
    FLists.reset();
    FDataFile.reset();
    FWork.Clear();
    FJobOf.clear();
    SkipList.Clear();
    CityList.Clear();
}

void TScraper::TryStep(const std::function<void()>& step) {
    try {
        step();
    } catch (...) {
        FFailed = true;
        TryLog(QStringLiteral("Ошибка: ") + FailureMessage());
    }
}

// For failures that must still be shown when the view itself may be failing.
void TScraper::TryLog(const QString& text) {
    try {
        Log(text);
    } catch (...) {
    }
}

void TScraper::Log(const QString& text) {
    LogMessageText = text;
    RunStep(&TScraper::AppendLogLine);
}

void TScraper::Sleep1ms() const {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

int TScraper::RunningCount() {
    std::lock_guard<std::mutex> guard(FLists->ListLock);
    return static_cast<int>(FLists->RunningList.size());
}

void TScraper::RunStep(void (TScraper::*step)()) {
    Synchronize([this, step] { (this->*step)(); });
}

// ---- The window steps, run on the main thread while the controller waits. ----

void TScraper::AppendLogLine() {
    FView.AppendLog(FormatLogLine(LogMessageText));
}

// The city list and START are enabled even when the log cannot be saved.
void TScraper::SetRunningUi() {
    if (CursorHourGlass) {
        FView.ClearLog();
        FView.AppendLog(FormatLogLine(QStringLiteral("Начинаем работу по заданным параметрам")));
        FView.SetInputsEnabled(false);
        return;
    }
    const QString path = FFiles.FreeLog(TickCount());
    FView.AppendLog(FormatLogLine(QStringLiteral("Работа завершена, лог записан в ") + path));
    try {
        FView.SaveLog(path);
    } catch (...) {
        FView.SetInputsEnabled(true);
        throw;
    }
    FView.SetInputsEnabled(true);
}

bool TScraper::ThrottleOpen() const {
    return TicksBetween(timerslastupdated, TickCount()) > 1000;
}

// The refreshes are throttled here, on the controller's side, so that a refresh
// that would show nothing costs no trip to the main thread.
void TScraper::ShowProgress() {
    if (ThrottleOpen())
        RunStep(&TScraper::RefreshProgress);
}

// The run end's refresh is forced: it must show the final counters even when the
// tick count has just wrapped to within 1000 ms of zero.
void TScraper::ShowCounters() {
    if (FForceCounters || ThrottleOpen())
        RunStep(&TScraper::RefreshCounters);
}

void TScraper::RefreshProgress() {
    FView.SetProgressMax(ProgressBarMax);
    FView.SetProgressPosition(ProgressBarPosition);
    const int position = FView.ProgressPosition();
    const int max = FView.ProgressMax();
    FView.SetProgressHint(
        QStringLiteral("%1 из %2, осталось %3").arg(position).arg(max).arg(max - position));
    FView.ProcessEvents();
}

void TScraper::RefreshCounters() {
    FView.SetCounterTexts(QStringLiteral("Найдено организаций: ") + QString::number(firmscounter),
                          QStringLiteral("Записано организаций: ") + QString::number(FirmsWritten));
    timerslastupdated = TickCount();
    Limit = FView.ThreadLimit();
    FView.ProcessEvents();
}

void TScraper::ArmResumeTimer() {
    FView.ArmResumeTimer(FSettings.FailurePauseMs);
}

// A failure that ends the run asks for no pause: the run end, which follows at
// once, sets the window idle (once, saving the log once).
void TScraper::ReportOutcome() {
    FView.AppendLog(FormatLogLine(QStringLiteral("Ошибка: ") + result.Reason.left(200)));
    if (result.EndsRun)
        return;
    FView.AppendLog(FormatLogLine(
        QStringLiteral("Включаем паузу на %1 секунд").arg(DefaultFailurePauseMs / 1000)));
    ArmResumeTimer();
    Suspend();
}
