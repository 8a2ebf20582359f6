#include "crawl/scraper.h"

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

#include <QFile>
#include <QSet>

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

// What a failure's message says when the run ends without the pause: a disk that
// refuses writes, or any failure that says so itself.
const QString RunEndsText = QStringLiteral("завершаем работу");

// The journal and the data file are handed to the disk itself at most this often:
// a power loss then costs at most this much work, fetched again.
constexpr uint32_t SyncIntervalMs = 1000;

bool LessIgnoreCase(const QString& a, const QString& b) {
    return CompareTextIgnoreCase(a, b) < 0;
}

// The city list entry of a cities.txt line "label=URL": the URL, cut to 100
// characters, names the label. A city given as "http://" is fetched over HTTPS, so
// its cards carry "https://" and the entry is named that way to be found by them.
void AddCityListEntry(TNameValueList& cityList, const QString& line) {
    const qsizetype equals = line.indexOf(QLatin1Char('='));
    if (equals < 0) {
        cityList.Add(line.left(100), QString());
        return;
    }
    QString url = line.mid(equals + 1);
    if (HasWebScheme(url))
        url = AddScheme(StripScheme(url));
    cityList.Add(url.left(100), line.left(equals));
}

// The link an entry fetches: a card job line's card link, or the entry itself.
QString EntryLink(const QString& entry) {
    return SplitJobLine(entry).Url;
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

// Run start, steps 1 to 3.
void TScraper::StartRun() {
    FLists = std::make_shared<TRunLists>();
    Synchronize([this] { Limit = FView.ThreadLimit(); });
    if (FSettings.KeepAlive)
        FConnections = std::make_shared<TConnectionPool>(Limit);
    CursorHourGlass = true;
    RunStep(&TScraper::SetRunningUi);
    WorkList.reserve(1000000);
    KnownList.reserve(100000);
    SkipList.reserve(1000);
}

// Run start, steps 4 to 10. The lists count as loaded (and are saved at the run's
// end) only once all of this has succeeded, so stored files are never replaced by
// lists that were not loaded completely. The lists as loaded are saved at once,
// and the journal continues from them.
void TScraper::LoadInputs() {
    Log(QStringLiteral("Начинаем работу..."));
    for (const QString& line : ReadTextFileLines(FFiles.Cities()))
        AddCityListEntry(CityList, line);
    const TSavedRun saved = ReadSavedRun(FFiles, true);
    if (saved.Exists)
        ResumeSavedRun(saved);
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

// The saved lists as the last run left them (its journal replayed when it never
// saved them). Pages that failed before are tried again after everything else.
void TScraper::ResumeSavedRun(const TSavedRun& saved) {
    WorkList.append(saved.Lists.Work);
    for (const QString& key : saved.Lists.Known)
        AddKnown(key);
    for (const TRubricEntry& rubric : saved.Lists.Rubrics)
        RubricList.Add(rubric.first, rubric.second);
    QSet<QString> queued(WorkList.begin(), WorkList.end());
    for (const QString& entry : saved.Lists.Failed) {
        if (!queued.contains(entry)) {
            WorkList.append(entry);
            queued.insert(entry);
        }
    }
}

// The selected cities in list order. A run with nothing to crawl says why and goes
// on as any other: its data file holds the header alone, its lists are saved empty.
void TScraper::BuildStartEntries() {
    QList<TCityItem> selected;
    Synchronize([&] { selected = FView.SelectedCities(); });
    for (const TCityItem& item : selected)
        AddStartEntry(item);
    if (WorkList.isEmpty())
        Log(NothingToCrawl(!selected.isEmpty()));
}

// A city path gets the site's base URL in front. A city without a URL, or whose
// URL is neither a path nor "https://" or "http://", is named in the log and left
// out: the other cities need not suffer for one bad line.
void TScraper::AddStartEntry(const TCityItem& item) {
    if (!item.HasUrl) {
        Log(QStringLiteral("Город \"%1\" пропущен: в cities.txt у него нет ссылки")
                .arg(item.Label));
        return;
    }
    QString url = item.Url;
    if (url.startsWith(QLatin1Char('/')))
        url = FSettings.SiteBaseUrl + url;
    if (!HasWebScheme(url)) {
        Log(QStringLiteral("Город \"%1\" пропущен: ссылка \"%2\" не начинается с \"/\", "
                           "\"https://\" или \"http://\"")
                .arg(item.Label, LogUrl(item.Url)));
        return;
    }
    WorkList.append(StripScheme(url));
    AddKnown(StripScheme(url));
}

QString TScraper::NothingToCrawl(bool citySelected) const {
    if (CityList.Size() == 0)
        return QStringLiteral("В файле %1 нет ни одного города; добавьте строки вида "
                              "\"Страна, Город=https://адрес\"")
            .arg(FFiles.Cities());
    if (!citySelected)
        return QStringLiteral("Не выбран ни один город, обходить нечего");
    return QStringLiteral("Ни один из выбранных городов не может быть обойдён");
}

// skip.txt lines are compared trimmed, so stray blanks around a link do not hide it.
void TScraper::LoadSkipList() {
    const QString path = FFiles.Skip();
    if (!QFile::exists(path))
        return;
    for (const QString& line : ReadTextFileLines(path))
        SkipList.append(Trim(line));
    std::sort(SkipList.begin(), SkipList.end(), LessIgnoreCase);
    if (!SkipList.isEmpty())
        Log(QStringLiteral("В файле skip.txt игнорируемых ссылок: ") +
            QString::number(SkipList.size()));
}

// skip.txt holds for every entry, loaded or built, as it does for the links found;
// a blank entry would only be paced through the loop.
void TScraper::DropSkippedAndBlankEntries() {
    WorkList.removeIf([this](const QString& entry) {
        return Trim(entry).isEmpty() || IsSkipped(EntryLink(entry));
    });
}

void TScraper::OpenDataFile() {
    FDataFile = std::make_unique<TDataFile>();
    FDataFile->Open(FSettings.BaseDir);
    Log(QStringLiteral("Данные будут записываться в файл ") + FDataFile->FilePath());
}

void TScraper::BeginJournal() {
    const TListPrints prints =
        SaveRunLists(FFiles, {WorkList, KnownList, RubricList.Entries(), FailedList});
    FJournal.Begin(FFiles.Journal(), prints, FDataFile->FileName(), FDataFile->Size());
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

// The journal hears of the job before the work list loses it.
void TScraper::StartOneJob() {
    if (RunningCount() >= Limit || WorkList.isEmpty())
        return;
    const int64_t job = FNextJob++;
    FJournal.Taken(job, WorkList.first());
    FTaken.append({job, WorkList.takeFirst(), nullptr});
    ++ProgressBarPosition;
    ShowProgress();
    if (Trim(FTaken.last().Entry).isEmpty())
        return FinishJob(job, {}, -1);
    StartFetchThread(FTaken.last());
    Sleep1ms();
}

void TScraper::StartFetchThread(TTakenJob& taken) {
    TScrapingThread* thread = FSettings.NewFetchThread();
    thread->Lists = FLists;
    thread->Connections = FConnections;
    thread->LogsMemo = [view = &FView](const QString& line) { view->AppendLog(line); };
    thread->url = AddScheme(taken.Entry);
    thread->Code = 0;
    taken.Thread = thread;
    {
        std::lock_guard<std::mutex> guard(FLists->ListLock);
        FLists->RunningList.append(thread);
    }
    try {
        thread->Start();
    } catch (...) {
        taken.Thread = nullptr;
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
    const int64_t job = TakenJobOf(thread.get());
    const QString page = std::exchange(thread->html, QString());
    LogMessageText = LogUrl(thread->url) + QStringLiteral(": ") + thread->statusText;
    if (thread->result != 1) {
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
    FJournal.Failed(job);
    const QString entry = TakeTakenJob(job);
    if (!FailedList.contains(entry))
        FailedList.append(entry);
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
        FinishJob(job, {}, FDataFile->Size());
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

// The page's new links go to the end of the work list, its cards ahead of every
// other entry, in page order.
void TScraper::CommitRouting(int64_t job, const TRoutedLinks& links, const QString& url) {
    FinishJob(job, links, -1);
    for (const QString& key : links.ListLinks) {
        WorkList.append(key);
        AddKnown(key);
    }
    for (const TRubricEntry& rubric : links.Rubrics)
        RubricList.Add(rubric.first, rubric.second);
    for (qsizetype i = links.CardJobs.size() - 1; i >= 0; --i)
        WorkList.prepend(links.CardJobs[i]);
    const auto cards = static_cast<int32_t>(links.CardJobs.size());
    firmscounter += cards;
    ProgressBarMax += static_cast<int32_t>(links.ListLinks.size()) + cards;
    Log(QStringLiteral("Найдено ") + QString::number(cards) +
        QStringLiteral(" объектов по ссылке ") + LogUrl(url));
    ShowCounters();
}

void TScraper::FinishJob(int64_t job, const TRoutedLinks& links, int64_t dataSize) {
    FJournal.Done(job, links, dataSize);
    TakeTakenJob(job);
}

QString TScraper::TakeTakenJob(int64_t job) {
    for (qsizetype i = 0; i < FTaken.size(); ++i)
        if (FTaken[i].Job == job)
            return FTaken.takeAt(i).Entry;
    return {};
}

int64_t TScraper::TakenJobOf(const TScrapingThread* thread) const {
    for (const TTakenJob& taken : FTaken)
        if (taken.Thread == thread)
            return taken.Job;
    return 0;
}

// Rows before the journal that vouches for them, so that after a power loss the
// journal never claims a row the data file lost.
void TScraper::SyncNowAndThen() {
    if (!FSettings.KeepJournal || TicksBetween(FLastSync, TickCount()) < SyncIntervalMs)
        return;
    FDataFile->Sync();
    FJournal.Sync();
    FLastSync = TickCount();
}

bool TScraper::IsKnown(const QString& key) const {
    return std::binary_search(KnownList.begin(), KnownList.end(), key, LessIgnoreCase);
}

void TScraper::AddKnown(const QString& key) {
    const auto place = std::lower_bound(KnownList.begin(), KnownList.end(), key, LessIgnoreCase);
    if (place == KnownList.end() || CompareTextIgnoreCase(*place, key) != 0)
        KnownList.insert(place, key);
}

// A skip.txt line names a link by its key or by its full form with "https://".
bool TScraper::IsSkipped(const QString& key) const {
    return !SkipList.isEmpty() &&
           (std::binary_search(SkipList.begin(), SkipList.end(), key, LessIgnoreCase) ||
            std::binary_search(SkipList.begin(), SkipList.end(), AddScheme(key), LessIgnoreCase));
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

// The journal goes only once every list is saved: until then it is what the next
// run continues from.
void TScraper::SaveWorkLists() {
    PutBackTakenJobs();
    SaveRunLists(FFiles, {WorkList, KnownList, RubricList.Entries(), FailedList});
    FJournal.Close();
    QFile::remove(FFiles.Journal());
    LogFailedPages();
}

// Jobs running at a stop or a failure, finished but not collected, or failing
// while they were routed go back to the front, in the order they were taken.
void TScraper::PutBackTakenJobs() {
    for (qsizetype i = FTaken.size() - 1; i >= 0; --i)
        WorkList.prepend(FTaken[i].Entry);
    FTaken.clear();
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
    FJournal.Close();
    WorkList = {};
    KnownList = {};
    SkipList = {};
    CityList.Clear();
    RubricList.Clear();
    FailedList = {};
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

// The saved log never replaces a file: the number goes up until the name is free.
// The city list and START are enabled even when the log cannot be saved.
void TScraper::SetRunningUi() {
    if (CursorHourGlass) {
        FView.ClearLog();
        FView.AppendLog(FormatLogLine(QStringLiteral("Начинаем работу по заданным параметрам")));
        FView.SetInputsEnabled(false);
        return;
    }
    const QString path = FreeLogPath();
    FView.AppendLog(FormatLogLine(QStringLiteral("Работа завершена, лог записан в ") + path));
    try {
        FView.SaveLog(path);
    } catch (...) {
        FView.SetInputsEnabled(true);
        throw;
    }
    FView.SetInputsEnabled(true);
}

QString TScraper::FreeLogPath() const {
    uint32_t number = TickCount();
    QString path;
    do {
        path = FFiles.Log(number++);
    } while (QFile::exists(path));
    return path;
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
    FView.AppendLog(FormatLogLine(QStringLiteral("Включаем паузу на 30 секунд")));
    ArmResumeTimer();
    Suspend();
}
