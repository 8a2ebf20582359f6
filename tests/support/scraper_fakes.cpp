#include "tests/support/scraper_fakes.h"

#include "crawl/scraper.h"
#include "platform/exception.h"
#include "platform/log_line.h"

#include <QFile>
#include <QTimer>

#include <chrono>

void TFakeSite::Open() {
    {
        std::lock_guard<std::mutex> guard(Lock);
        IsOpen = true;
    }
    Opened.notify_all();
}

void TFakeSite::WaitOpen(const std::function<bool()>& stopped) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    std::unique_lock<std::mutex> lock(Lock);
    while (!IsOpen && !(GateEndsOnStop && stopped()) && std::chrono::steady_clock::now() < deadline)
        Opened.wait_for(lock, std::chrono::milliseconds(5));
}

QStringList TFakeSite::Requests() {
    std::lock_guard<std::mutex> guard(Lock);
    return RequestLog;
}

TFakeScrapingThread::TFakeScrapingThread(std::shared_ptr<TFakeSite> site) : FSite(std::move(site)) {
    ++FSite->Alive;
}

TFakeScrapingThread::~TFakeScrapingThread() {
    --FSite->Alive;
}

void TFakeScrapingThread::Execute() {
    const int running = ++FSite->Running;
    int most = FSite->MostRunning.load();
    while (running > most && !FSite->MostRunning.compare_exchange_weak(most, running)) {
    }
    ++FSite->Started;
    Answer();
    --FSite->Running;
    // Counted once the hand-over is done, so a test that sees the count can reap
    // the thread; the thread's own members are not touched after it.
    const std::shared_ptr<TFakeSite> site = FSite;
    HandOver();
    ++site->HandedOver;
}

// As the real thread: the job is taken and the page looked up by its URL alone.
void TFakeScrapingThread::Answer() {
    TakeJob();
    {
        std::lock_guard<std::mutex> guard(FSite->Lock);
        FSite->RequestLog.append(url);
    }
    const auto page = FSite->Pages.constFind(url);
    const bool found = page != FSite->Pages.cend();
    if (FSite->Gated || (found && page->Gated))
        FSite->WaitOpen([this] { return Terminated(); });
    if (Terminated()) {
        if (FSite->LogWhenStopped)
            Synchronize([this] { LogsMemo(FormatLogLine(QStringLiteral("stopped ") + url)); });
        return;
    }
    result = found ? page->Result : TFetchResult::Failed;
    statusText = found ? page->StatusText : QStringLiteral("ERROR_Not Found");
    html = found ? page->Html : QString();
}

QStringList TRecordingView::Texts() const {
    QStringList texts;
    for (const QString& line : Lines)
        texts.append(line.mid(line.indexOf(QStringLiteral(": ")) + 2));
    return texts;
}

void TRecordingView::AppendLog(const QString& line) {
    if (!FailOn.isEmpty() && line.contains(FailOn)) {
        FailOn.clear();
        throw Exception(FailureText);
    }
    Lines.append(line);
    if (OnLine)
        OnLine(line);
}

void TRecordingView::ArmResumeTimer(int milliseconds) {
    Armed.append(milliseconds);
    QTimer::singleShot(milliseconds, [this] {
        if (Scraper && !Scraper->Finished() && Scraper->Paused()) {
            Scraper->Resume();
            AppendLog(FormatLogLine(QStringLiteral("Отключаем паузу, продолжаем работу")));
        }
    });
}

void TRecordingView::SaveLog(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        throw Exception(QStringLiteral("cannot save ") + path);
    file.write((Lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toUtf8());
    SavedLogs.append(path);
}
