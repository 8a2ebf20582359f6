#include "crawl/scraper.h"

#include "crawl/data_file.h"
#include "crawl/orphan_threads.h"
#include "crawl/page_extraction.h"
#include "crawl/site_url.h"
#include "crawl/text_utils.h"
#include "fetch/scraping_thread.h"
#include "platform/exception.h"
#include "platform/executable_dir.h"
#include "platform/log_line.h"
#include "platform/text_compare.h"
#include "platform/text_file.h"
#include "platform/tick_count.h"

#include <QFile>

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

const QString CardSeparator = QStringLiteral("|||");

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

// The message of the failure being handled, for the log.
QString FailureMessage() {
    return CurrentExceptionMessage(QStringLiteral("неизвестная ошибка"));
}

} // namespace

TScraper::TScraper(TRunView& view, TScraperSettings settings)
    : FView(view), FSettings(std::move(settings)), timerslastupdated(TickCount()) {
    if (FSettings.BaseDir.isEmpty())
        FSettings.BaseDir = ChooseFilesDir({}, ExecutableDir());
    if (FSettings.SiteBaseUrl.isEmpty())
        FSettings.SiteBaseUrl = SiteBaseUrl();
    if (!FSettings.NewFetchThread)
        FSettings.NewFetchThread = [] { return new TScrapingThread; };
}

// The run's members must outlive its thread, so the thread ends here, before
// they are destroyed; the base's destructor then finds nothing left to join.
TScraper::~TScraper() {
    if (!Started())
        return;
    Terminate();
    Resume();
    WaitFor();
}

void TScraper::Execute() {
    ReapFinishedOrphans();
    const TRunEnd how = Run();
    if (how == TRunEnd::Failed || how == TRunEnd::InputFailed)
        FFailed = true;
    FinishRun(how);
    ReapFinishedOrphans();
}

// A failure while the inputs load is logged and ends the run at once; a failure
// of the loop is reported with its pause (ReportOutcome).
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
    } catch (...) {
        result = QStringLiteral("ERROR_") + FailureMessage();
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
    CursorHourGlass = true;
    RunStep(&TScraper::SetRunningUi);
    WorkList.reserve(1000000);
    KnownList.reserve(100000);
    SkipList.reserve(1000);
}

// Run start, steps 4 to 10. The lists count as loaded (and are saved at the run's
// end) only once all of this has succeeded, so stored files are never replaced by
// lists that were not loaded completely.
void TScraper::LoadInputs() {
    Log(QStringLiteral("Начинаем работу..."));
    for (const QString& line : ReadTextFileLines(FilePath(QStringLiteral("cities.txt"))))
        AddCityListEntry(CityList, line);
    if (QFile::exists(FilePath(QStringLiteral("lists.dat"))))
        LoadWorkLists();
    else
        BuildStartEntries();
    firmscounter = 0;
    FirmsWritten = 0;
    ShowCounters();
    LoadSkipList();
    OpenDataFile();
    ProgressBarPosition = 0;
    ProgressBarMax = static_cast<int32_t>(WorkList.size());
    FInputsLoaded = true;
}

void TScraper::LoadWorkLists() {
    WorkList.append(ReadTextFileLines(FilePath(QStringLiteral("lists.dat"))));
    for (const QString& key : ReadTextFileLines(FilePath(QStringLiteral("allknown.dat"))))
        AddKnown(key);
}

// The selected cities in list order. A run with nothing to crawl ends here, saying
// why, before it creates a data file or replaces the saved lists.
void TScraper::BuildStartEntries() {
    QList<TCityItem> selected;
    Synchronize([&] { selected = FView.SelectedCities(); });
    for (const TCityItem& item : selected)
        AddStartEntry(item);
    if (WorkList.isEmpty())
        throw Exception(NothingToCrawl(!selected.isEmpty()));
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
                .arg(item.Label, item.Url));
        return;
    }
    WorkList.append(StripScheme(url));
    AddKnown(StripScheme(url));
}

QString TScraper::NothingToCrawl(bool citySelected) const {
    if (CityList.Size() == 0)
        return QStringLiteral("В файле %1 нет ни одного города; добавьте строки вида "
                              "\"Страна, Город=https://адрес\"")
            .arg(FilePath(QStringLiteral("cities.txt")));
    if (!citySelected)
        return QStringLiteral("Не выбран ни один город, обходить нечего");
    return QStringLiteral("Ни один из выбранных городов не может быть обойдён");
}

// skip.txt lines are compared trimmed, so stray blanks around a link do not hide it.
void TScraper::LoadSkipList() {
    const QString path = FilePath(QStringLiteral("skip.txt"));
    if (!QFile::exists(path))
        return;
    for (const QString& line : ReadTextFileLines(path))
        SkipList.append(Trim(line));
    std::sort(SkipList.begin(), SkipList.end(), LessIgnoreCase);
    if (!SkipList.isEmpty())
        Log(QStringLiteral("В файле skip.txt игнорируемых ссылок: ") +
            QString::number(SkipList.size()));
}

void TScraper::OpenDataFile() {
    FDataFile = std::make_unique<TDataFile>();
    FDataFile->Open(FSettings.BaseDir);
    Log(QStringLiteral("Данные будут записываться в файл ") + FDataFile->FilePath());
}

TScraper::TRunEnd TScraper::DispatchLoop() {
    bool done = false;
    while (!Terminated() && !done) {
        Checkpoint();
        if (Terminated())
            break;
        StartOneJob();
        CollectOneResult();
        done = WorkIsDone();
        Sleep1ms();
    }
    return done ? TRunEnd::Done : TRunEnd::Stopped;
}

void TScraper::StartOneJob() {
    if (RunningCount() >= Limit || WorkList.isEmpty())
        return;
    const QString entry = WorkList.takeFirst();
    ++ProgressBarPosition;
    ShowProgress();
    if (Trim(entry).isEmpty())
        return;
    TScrapingThread* thread = FSettings.NewFetchThread();
    thread->Lists = FLists;
    thread->LogsMemo = [view = &FView](const QString& line) { view->AppendLog(line); };
    thread->url = AddScheme(entry);
    thread->Code = 0;
    {
        std::lock_guard<std::mutex> guard(FLists->ListLock);
        FLists->RunningList.append(thread);
    }
    try {
        thread->Start();
    } catch (...) {
        std::lock_guard<std::mutex> guard(FLists->ListLock);
        FLists->RunningList.removeOne(thread);
        delete thread;
        throw;
    }
    Sleep1ms();
}

// A failed fetch is logged and dropped: its entry is not put back.
void TScraper::CollectOneResult() {
    std::unique_ptr<TScrapingThread> thread;
    {
        std::lock_guard<std::mutex> guard(FLists->ListLock);
        if (FLists->FinishedList.isEmpty())
            return;
        thread.reset(FLists->FinishedList.takeFirst());
    }
    const QString page = std::exchange(thread->html, QString());
    LogMessageText = thread->url + QStringLiteral(": ") + thread->statusText;
    if (thread->result != 1) {
        ++FPagesFailed;
        RunStep(&TScraper::AppendLogLine);
    } else {
        ++FPagesFetched;
        RoutePage(*thread, page);
    }
    thread->Terminate();
    thread->WaitFor();
    thread.reset();
    Sleep1ms();
}

bool TScraper::WorkIsDone() {
    return !FetchThreadsRemain() && WorkList.isEmpty();
}

void TScraper::RoutePage(const TScrapingThread& thread, const QString& page) {
    switch (ClassifyPage(thread.Code, thread.url)) {
    case TPageKind::CardPage:
        FDataFile->WriteRecord(ExtractOrganisation(page, thread.url, thread.category,
                                                   thread.categoryurl, CityList, RubricList));
        ++FirmsWritten;
        ShowCounters();
        break;
    case TPageKind::CityPage:
        RouteCityPage(page, thread.url);
        break;
    case TPageKind::ListPage:
        RouteListPage(page, thread.url);
        break;
    }
}

void TScraper::RouteCityPage(const QString& page, const QString& url) {
    for (const QString& key : ExtractCityPage(page, url))
        QueueListLink(key);
    QueueCardJobs(page, url);
}

// Each subrubric actually queued is remembered with the page's rubric name.
void TScraper::RouteListPage(const QString& page, const QString& url) {
    const TListPageLinks links = ExtractListPage(page, url);
    for (const QString& key : links.SubrubricLinks) {
        if (QueueListLink(key))
            RubricList.Add(key, links.Breadcrumb);
    }
    for (const QString& key : links.PageLinks)
        QueueListLink(key);
    QueueCardJobs(page, url);
}

// The page's cards go ahead of every other entry, in page order.
void TScraper::QueueCardJobs(const QString& page, const QString& url) {
    QStringList jobs = ExtractCardJobs(page, url).JobLines;
    jobs.removeIf(
        [this](const QString& job) { return IsSkipped(job.left(job.indexOf(CardSeparator))); });
    for (qsizetype i = jobs.size() - 1; i >= 0; --i)
        WorkList.prepend(jobs[i]);
    firmscounter += static_cast<int32_t>(jobs.size());
    ProgressBarMax += static_cast<int32_t>(jobs.size());
    Log(QStringLiteral("Найдено ") + QString::number(jobs.size()) +
        QStringLiteral(" объектов по ссылке ") + url);
    ShowCounters();
}

// False when the link is known already (in any letter case) or listed in skip.txt.
bool TScraper::QueueListLink(const QString& key) {
    if (IsKnown(key) || IsSkipped(key))
        return false;
    WorkList.append(key);
    ++ProgressBarMax;
    AddKnown(key);
    return true;
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

void TScraper::CloseDataFile() {
    if (FDataFile)
        FDataFile->Close();
}

void TScraper::SaveWorkLists() {
    SaveListFile(WorkList, FilePath(QStringLiteral("lists.dat")));
    SaveListFile(KnownList, FilePath(QStringLiteral("allknown.dat")));
}

// Fetch threads the run did not collect pass to the orphan keeper with the run's
// shared lists; the run's own lists are released.
void TScraper::ReleaseRun() {
    if (FetchThreadsRemain())
        AdoptOrphanThreads(FLists);
    FLists.reset();
    FDataFile.reset();
    WorkList = {};
    KnownList = {};
    SkipList = {};
    CityList = {};
    RubricList = {};
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

QString TScraper::FilePath(const QString& name) const {
    return FSettings.BaseDir + QLatin1Char('/') + name;
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
        path = FilePath(QStringLiteral("log-%1.txt").arg(static_cast<int32_t>(number++)));
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

// A message holding "завершаем работу" asks for no pause: the run end, which
// follows at once, sets the window idle (once, saving the log once).
void TScraper::ReportOutcome() {
    FView.AppendLog(FormatLogLine(QStringLiteral("Ошибка: ") + result.mid(6, 200)));
    if (result.contains(QStringLiteral("завершаем работу")))
        return;
    FView.AppendLog(FormatLogLine(QStringLiteral("Включаем паузу на 30 секунд")));
    ArmResumeTimer();
    Suspend();
}
