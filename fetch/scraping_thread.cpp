#include "fetch/scraping_thread.h"

#include "fetch/attempt_failure.h"
#include "fetch/brotli_decode.h"
#include "fetch/page_text.h"
#include "fetch/ssl_context.h"
#include "fetch/ssl_http_cli.h"
#include "platform/event_queue.h"
#include "platform/exception.h"
#include "platform/log_line.h"
#include "platform/memory_stream.h"
#include "platform/tick_count.h"

#include <algorithm>
#include <memory>

namespace {

constexpr int MaxAttempts = 15;
constexpr uint32_t WaitMs = 1000;
// A wait that a stop request may end looks at the request this often.
constexpr uint32_t StopPollMs = 20;

const char* const BrowserAgent =
    "Mozilla/5.0 (Windows NT 6.1; Win64; x64; rv:109.0) Gecko/20100101 Firefox/115.0";

// A body whose text lacks the closing html tag: the page came back cut short.
class EBrokenPage : public Exception {
public:
    EBrokenPage() : Exception(QStringLiteral("Broken")) {}
};

// Runs `atEnd` when the scope is left, however it is left.
template <typename TAction> class TAtScopeEnd {
public:
    explicit TAtScopeEnd(TAction atEnd) : FAtEnd(std::move(atEnd)) {}
    ~TAtScopeEnd() { FAtEnd(); }
    TAtScopeEnd(const TAtScopeEnd&) = delete;
    TAtScopeEnd& operator=(const TAtScopeEnd&) = delete;

private:
    TAction FAtEnd;
};

std::unique_ptr<TSslContext> MakeSslContext(const TFetchSettings& settings, bool verifyPeer,
                                            const QString& caFile) {
    auto context = std::make_unique<TSslContext>();
    context->SetSslCertFile(settings.CertFile);
    context->SetSslPrivKeyFile(settings.PrivKeyFile);
    context->SetSslPassPhrase(settings.PassPhrase);
    context->SetSslVerifyPeer(verifyPeer);
    context->SetSslCAFile(caFile);
    context->SetSslVersionMethod(sslBestVer_CLIENT);
    return context;
}

std::unique_ptr<TSslHttpCli> MakeClient(TSslContext* context, const TFetchSettings& settings) {
    auto client = std::make_unique<TSslHttpCli>();
    client->SslContext = context;
    client->Request.Accept = QStringLiteral("text/html, */*");
    client->Request.Timeout = settings.TimeoutSeconds;
    client->Request.Agent = QString::fromLatin1(BrowserAgent);
    client->SetOptions({httpoEnableContentCoding});
    return client;
}

// The receive buffer of one attempt; the client never keeps it past the attempt.
class TAttemptBuffer {
public:
    explicit TAttemptBuffer(THttpCli* client) : FClient(client) { client->SetRcvdStream(&FBody); }
    ~TAttemptBuffer() { FClient->SetRcvdStream(nullptr); }
    TMemoryStream& Body() { return FBody; }

private:
    THttpCli* FClient;
    TMemoryStream FBody;
};

} // namespace

TScrapingThread::TScrapingThread() = default;

// The thread base stops and joins a job still running; nothing here outlives it.
TScrapingThread::~TScrapingThread() = default;

void TScrapingThread::Execute() {
    // Declared first, so it runs last: after the client and its TLS context are gone.
    TAtScopeEnd handOver([this] { HandOver(); });
    std::unique_ptr<TSslContext> context;
    std::unique_ptr<TSslHttpCli> client;
    try {
        context = MakeSslContext(Settings, VerifyPeer, CaFile);
        client = MakeClient(context.get(), Settings);
    } catch (...) {
        // A job whose client cannot be set up ends untried: result None, no status text.
        return;
    }
    FClient = client.get();
    TAtScopeEnd forget([this] { FClient = nullptr; });
    client->Connections = Connections;
    if (Connections)
        client->Request.SetRequestVer(QStringLiteral("1.1"));
    RunJob();
    client->KeepConnection();
}

void TScrapingThread::TakeJob() {
    url = Job.Url;
    Code = Job.Code;
    category = Job.Category;
    categoryurl = Job.CategoryUrl;
}

void TScrapingThread::RunJob() {
    try {
        result = TFetchResult::None;
        TakeJob();
        html.clear();
        RunAttempts();
    } catch (...) {
        // A failure outside the attempts ends the job at once, without a log line.
        result = TFetchResult::Failed;
        statusText = TAttemptFailure::Current(*FClient).StatusText();
        WaitHandlingEvents(WaitMs, true);
    }
}

void TScrapingThread::RunAttempts() {
    bool succeeded = false;
    for (int attempts = 0; !succeeded && attempts < MaxAttempts;) {
        if (Terminated())
            return;
        TAttemptBuffer buffer(FClient);
        ++attempts;
        try {
            if (!Attempt(buffer.Body()))
                return;
            succeeded = true;
        } catch (...) {
            if (Terminated())
                return;
            HandleFailedAttempt(TAttemptFailure::Current(*FClient));
        }
    }
    if (!succeeded) {
        result = TFetchResult::Failed;
        return WaitHandlingEvents(WaitMs, true);
    }
    result = TFetchResult::Fetched;
    statusText = QStringLiteral("успешно");
}

bool TScrapingThread::Attempt(TMemoryStream& body) {
    FClient->Request.URL = url;
    FClient->Request.Reference = url;
    FClient->Get();
    if (Terminated())
        return false;
    // "gzip" and "deflate" bodies arrive decoded; "br", exactly so written, is ours.
    if (FClient->ContentEncoding() == QLatin1String(BrotliCoding)) {
        auto decoded = std::make_unique<TMemoryStream>();
        body.Seek(0);
        DecodeBrotliStream(&body, decoded.get());
        html = PageTextFromBody(decoded.get());
    } else {
        html = PageTextFromBody(&body);
    }
    // The marker closes a whole page, so it is looked for from the end.
    if (html.lastIndexOf(u"</html>") < 0)
        throw EBrokenPage();
    return !Terminated();
}

void TScrapingThread::HandleFailedAttempt(const TAttemptFailure& failure) {
    result = TFetchResult::Failed;
    statusText = failure.StatusText();
    LogMessageText = statusText + QStringLiteral(" для ") + LogUrl(url);
    AppendLogLine();
    if (failure.NeedsPause())
        WaitHandlingEvents(WaitMs, false);
}

void TScrapingThread::AppendLogLine() {
    Synchronize([this] {
        if (LogsMemo)
            LogsMemo(FormatLogLine(LogMessageText));
    });
}

// Sleeps on the thread's event queue rather than spinning on the pump: every event
// of the client is still handled as it arrives, without a core kept busy.
void TScrapingThread::WaitHandlingEvents(uint32_t ms, bool endOnStop) {
    TEventQueue& queue = TEventQueue::ForThisThread();
    const uint32_t start = TickCount();
    for (uint32_t passed = 0; passed < ms; passed = TicksBetween(start, TickCount())) {
        if (endOnStop && Terminated())
            return;
        const uint32_t slice = std::min(ms - passed, endOnStop ? StopPollMs : ms);
        if (queue.WaitForEvent(int(slice)))
            FClient->MessagePump();
    }
}

void TScrapingThread::HandOver() {
    if (!Lists)
        return;
    std::lock_guard<std::mutex> guard(Lists->ListLock);
    Lists->RunningList.removeOne(this);
    Lists->FinishedList.append(this);
}
