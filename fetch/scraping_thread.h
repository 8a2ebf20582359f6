#pragma once

#include "fetch/client_files.h"
#include "fetch/job_line.h"
#include "platform/thread_base.h"

#include <QList>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

class TConnectionPool;
class TScrapingThread;
class TSslHttpCli;
class TMemoryStream;
struct TAttemptFailure;

// The run's lists shared by the controller and its fetch threads. Held by
// std::shared_ptr so that a run ending on a stop or a failure can finish while
// its fetch threads still hand themselves over.
struct TRunLists {
    std::mutex ListLock;
    QList<TScrapingThread*> RunningList;
    QList<TScrapingThread*> FinishedList;
};

// What a job uses of its surroundings besides the job line: the client's TLS files
// (named relative to the current directory) with the key's pass phrase, and the
// client's time-out in seconds.
// The defaults are the program's fixed profile; tests point them elsewhere.
struct TFetchSettings {
    QString CertFile = QString::fromLatin1(ClientCertFile);
    QString PrivKeyFile = QString::fromLatin1(ClientKeyFile);
    QString PassPhrase = QString::fromLatin1(ClientKeyPassPhrase);
    uint32_t TimeoutSeconds = 120;
};

// How a job ended, in `result`. The controller takes every value but Fetched as a
// failed page.
enum class TFetchResult : int32_t {
    None = 0,    // stopped before any attempt failed, or the client could not be set up
    Failed = -1, // every attempt failed, or the job failed outside its attempts
    Fetched = 1, // the page came back whole
};

// One fetch job: turns one job into the text of one page with up to 15
// attempts, then hands itself over from RunningList to FinishedList.
//
// The controller owns the object: it sets the inputs before Start(), reads the
// outputs only after taking the thread out of FinishedList, then releases it.
// Execute runs on the job's own thread, which also owns the HTTP client, its TLS
// context and every buffer of the job; the client's network events are handled
// there, inside Get and inside the waits.
class TScrapingThread : public TThreadBase {
public:
    TScrapingThread();
    ~TScrapingThread() override;

    // Inputs, set by the controller before Start():
    std::shared_ptr<TRunLists> Lists;                  // RunningList, FinishedList, ListLock
    std::function<void(const QString& line)> LogsMemo; // appends one whole log line; the
                                                       // thread calls it inside Synchronize
    // Set (--keep-alive): requests go out as HTTP/1.1, and the job takes and leaves
    // open connections here. Unset: one HTTP/1.0 connection per page.
    std::shared_ptr<TConnectionPool> Connections;
    // Set (--verify-peer): a server whose certificate does not chain to CaFile's
    // certificates (the system's trust store when CaFile is empty) or does not name
    // the host connected to fails the attempt. Unset: certificates are not checked.
    bool VerifyPeer = false;
    QString CaFile;
    TJob Job; // the page to fetch, its URL with its scheme
    // Outputs (final before the hand-over), and `url`/`Code` also as inputs:
    TFetchResult result = TFetchResult::None;
    QString html;
    QString statusText;
    QString url;
    TJobCode Code = TJobCode::Page;
    QString categoryurl;
    QString category;

protected:
    void Execute() override; // the job: taking it, the attempts, the hand-over
    // Under ListLock: removes the first entry that is this thread from RunningList
    // and appends this thread to FinishedList. Execute's last act.
    void HandOver();
    // Reports the job's page URL, kind and rubric in `url`, `Code`, `category` and
    // `categoryurl`, whatever the fetch then gives.
    void TakeJob();

    // Handles the client's events for `ms` milliseconds of the tick count, ending
    // early on a stop request when `endOnStop`. Tests override it to see the waits.
    virtual void WaitHandlingEvents(uint32_t ms, bool endOnStop);

    TFetchSettings Settings;

private:
    void RunJob();
    void RunAttempts();
    // One attempt; false when a stop request ended it.
    bool Attempt(TMemoryStream& body);
    void HandleFailedAttempt(const TAttemptFailure& failure);
    void AppendLogLine();

    QString LogMessageText;
    TSslHttpCli* FClient = nullptr; // the job's client while Execute runs
};
