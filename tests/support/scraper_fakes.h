#pragma once

#include "crawl/run_view.h"
#include "fetch/scraping_thread.h"

#include <QMap>
#include <QString>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

class TScraper;

// One canned answer of the fake site.
struct TCannedPage {
    QString Html;
    TFetchResult Result = TFetchResult::Fetched;
    QString StatusText = QStringLiteral("успешно");
    bool Gated = false; // answered only once the site's gate opens
};

// What the fake fetch threads share with a test: the canned site (fixed before
// the run starts), the order of the requests, and a gate that holds jobs back.
struct TFakeSite {
    QMap<QString, TCannedPage> Pages;
    bool Gated = false;          // jobs wait until Open()
    bool GateEndsOnStop = false; // ... or until their stop request
    bool LogWhenStopped = false; // a stopped job writes a log line through its window step

    void Open();
    // Waits for Open() (or `stopped` when GateEndsOnStop) with a bound.
    void WaitOpen(const std::function<bool()>& stopped);
    QStringList Requests();

    std::mutex Lock;
    std::condition_variable Opened;
    bool IsOpen = false;
    QStringList RequestLog;
    std::atomic<int> Started{0};
    std::atomic<int> HandedOver{0};
    std::atomic<int> Running{0};
    std::atomic<int> MostRunning{0};
    std::atomic<int> Alive{0};
};

// A fetch thread that answers from the canned site instead of the network.
class TFakeScrapingThread : public TScrapingThread {
public:
    explicit TFakeScrapingThread(std::shared_ptr<TFakeSite> site);
    ~TFakeScrapingThread() override;

protected:
    void Execute() override;

private:
    void Answer();
    std::shared_ptr<TFakeSite> FSite;
};

// A view that records what the controller shows. The resume timer, when armed,
// resumes `Scraper` after the interval and logs as the window does.
class TRecordingView : public TRunView {
public:
    QStringList Lines; // the log view's lines, date-time prefix included
    QStringList SavedLogs;
    QList<bool> InputsEnabled;
    QList<QPair<QString, QString>> Counters;
    QStringList Hints;
    QList<int> Armed;
    int Limit = 1;
    QList<TCityItem> Selection;
    TScraper* Scraper = nullptr;
    // Raises the given text once, from the first log line that contains `FailOn`.
    QString FailOn;
    QString FailureText;
    // Called with every log line as it is appended, on the main thread.
    std::function<void(const QString& line)> OnLine;

    // The log's texts after their date-time prefix.
    QStringList Texts() const;

    void AppendLog(const QString& line) override;
    void ClearLog() override { Lines.clear(); }
    void SetInputsEnabled(bool enabled) override { InputsEnabled.append(enabled); }
    void SetProgressMax(int max) override { FMax = max; }
    void SetProgressPosition(int position) override { FPosition = position; }
    int ProgressMax() const override { return FMax; }
    int ProgressPosition() const override { return FPosition; }
    void SetProgressHint(const QString& hint) override { Hints.append(hint); }
    void SetCounterTexts(const QString& found, const QString& written) override {
        Counters.append({found, written});
    }
    int ThreadLimit() const override { return Limit; }
    QList<TCityItem> SelectedCities() const override { return Selection; }
    void ArmResumeTimer(int milliseconds) override;
    void SaveLog(const QString& path) override;
    void ProcessEvents() override {}

private:
    int FMax = 0;
    int FPosition = 0;
};
