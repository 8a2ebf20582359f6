#include "fetch/http_cli.h"

#include "fetch/content_coding.h"
#include "fetch/ws_socket.h"
#include "platform/event_queue.h"
#include "platform/process_state.h"
#include "platform/tick_count.h"

// The request's run, its end and the client's notices; the request side is in
// http_cli_request.cpp, the response side in http_cli_response.cpp.

THttpCli::THttpCli() : THttpCli(std::make_unique<TWSocket>()) {}

THttpCli::THttpCli(std::unique_ptr<TWSocket> socket) : FCtrlSocket(std::move(socket)) {
    FContentCodingHnd = std::make_unique<THttpContCodHandler>(&FRcvdStream, TWriteBufferProc());
    FCtrlSocket->OnDnsLookupDone = [this](int e) { Guarded([&] { HandleLookupDone(e); }); };
    FCtrlSocket->OnSessionConnected = [this](int e) { Guarded([&] { HandleConnected(e); }); };
    FCtrlSocket->OnDataAvailable = [this](int e) { Guarded([&] { HandleDataAvailable(e); }); };
    FCtrlSocket->OnEventFailure = [this](const std::exception&) { HandleEventFailure(); };
    SetClosedHandler(&THttpCli::HandleClosed);
}

THttpCli::~THttpCli() {
    FAlive.reset();
    if (FCtrlSocket) {
        FCtrlSocket->OnDnsLookupDone = nullptr;
        FCtrlSocket->OnSessionConnected = nullptr;
        FCtrlSocket->OnDataAvailable = nullptr;
        FCtrlSocket->OnSessionClosed = nullptr;
        FCtrlSocket->OnEventFailure = nullptr;
    }
}

void THttpCli::SetClosedHandler(void (THttpCli::*handler)(int)) {
    FCtrlSocket->OnSessionClosed = [this, handler](int e) {
        Guarded([&] { (this->*handler)(e); });
    };
}

void THttpCli::Guarded(const std::function<void()>& step) {
    try {
        step();
    } catch (const EResponseLimit& limit) {
        if (FState != httpReady && FState != httpAborting)
            AbortRequest(limit.Message(), limit.ErrorCode());
    } catch (const std::exception&) {
        HandleEventFailure();
    }
}

void THttpCli::HandleEventFailure() {
    if (FState != httpAborting)
        Abort();
}

void THttpCli::SetOptions(const THttpCliOptions& options) {
    FContentCodingHnd->SetEnabled(options.contains(httpoEnableContentCoding));
}

void THttpCli::MessagePump() {
    TEventQueue::ForThisThread().Pump();
}

void THttpCli::Get() {
    FLocationChangeCurCount = 0;
    RunRequest();
}

void THttpCli::RunRequest() {
    StartRequest();
    const uint32_t started = TickCount();
    FCtrlSocket->Counter.LastSendTick = started;
    TEventQueue& queue = TEventQueue::ForThisThread();
    while (FState != httpReady) {
        if (queue.WaitForEvent(1000))
            queue.Pump();
        if (FState != httpReady)
            CheckRequestLimits(started);
    }
    if (FRequestDoneError != 0)
        throw EHttpException(FResponse.ReasonPhrase, static_cast<uint16_t>(FRequestDoneError));
    if (FResponse.StatusCode >= 400 && FResponse.StatusCode != 401 && FResponse.StatusCode != 407)
        throw EHttpException(FResponse.ReasonPhrase, static_cast<uint16_t>(FResponse.StatusCode));
}

// The inactivity limit is renewed by every byte; the overall limit is not, so a
// server that trickles bytes cannot hold the request for longer than it allows.
void THttpCli::CheckRequestLimits(uint32_t started) {
    if (ApplicationTerminating()) {
        AbortRequest("Request aborted", HttpAbortedError);
    } else if (MillisecondsSinceActivity() >= uint64_t(Request.Timeout) * 1000) {
        AbortRequest(HttpTimeoutReason, HttpTimeoutError);
    } else if (TicksBetween(started, TickCount()) >= MaxRequestMs) {
        const EResponseLimit limit = EResponseLimit::Duration();
        AbortRequest(limit.Message(), limit.ErrorCode());
    }
}

// The latest of connect, last send and last receive, judged modulo 2^32 so a wrap of
// the tick count between them still picks the right one.
uint32_t THttpCli::MillisecondsSinceActivity() const {
    const TWSocketCounter& c = FCtrlSocket->Counter;
    const uint32_t now = TickCount();
    uint32_t last = c.ConnectTick;
    for (uint32_t stamp : {c.LastSendTick, c.LastRecvTick})
        if (TicksBetween(stamp, now) < TicksBetween(last, now))
            last = stamp;
    // Across a wrap this counts one millisecond less than the true 2^32 - last + now,
    // on purpose: it is the measure the time-out has always had, and tests pin it.
    // Do not "fix" it to TicksBetween: a request at the edge of its Timeout would
    // then end a millisecond earlier after a wrap than before one.
    return now >= last ? now - last : 4294967295u - last + now;
}

void THttpCli::AbortRequest(const QString& reason, int error) {
    const bool lookup = FState == httpDnsLookup;
    ChangeState(httpAborting);
    if (lookup) {
        try {
            FCtrlSocket->CancelDnsLookup();
        } catch (const std::exception&) {
            // the request ends here whether or not the lookup could be stopped
        }
    }
    SetFailure(HttpFailureStatus, reason, error);
    if (lookup)
        HandleClosed(0);
    else
        FCtrlSocket->Close();
    FConn.Connected = false;
    ChangeState(httpReady);
}

void THttpCli::Abort() {
    FLocationFlag = false;
    FResponse.RcvdCount = 0;
    FReader.Finish();
    if (FState != httpReady) {
        AbortRequest("Connection aborted on request", HttpAbortedError);
        return;
    }
    if (FCtrlSocket->State() != wsClosed)
        FCtrlSocket->Abort();
    FResponse.StatusCode = 200;
    FResponse.ReasonPhrase = "OK";
    FRequestDoneError = 0;
}

void THttpCli::SetFailure(int32_t status, const QString& reason, int error) {
    FResponse.StatusCode = status;
    FResponse.ReasonPhrase = reason;
    FRequestDoneError = error;
}

void THttpCli::ChangeState(THttpState newState) {
    FState = newState;
}

void THttpCli::PostNotice(TNotice notice) {
    if (notice == WM_HTTP_LOGIN) {
        if (FLoginPending)
            return;
        FLoginPending = true;
    }
    const std::weak_ptr<bool> alive = FAlive;
    const uint64_t number = FRequestNumber;
    TEventQueue::ForThisThread().Post([this, alive, notice, number] {
        if (!alive.expired())
            HandleNotice(notice, number);
    });
}

// A notice of an earlier request (left queued by an abort or a late close) is
// dropped: only the request that posted it may be completed or continued by it.
void THttpCli::HandleNotice(TNotice notice, uint64_t requestNumber) {
    if (requestNumber != FRequestNumber)
        return;
    Guarded([&] {
        switch (notice) {
        case WM_HTTP_SET_READY:
            if (FState != httpReady)
                ChangeState(httpReady);
            break;
        case WM_HTTP_LOGIN:
            FLoginPending = false;
            if (FState != httpReady && FState != httpAborting)
                OpenConnection();
            break;
        }
    });
}

void THttpCli::ResetResponse() {
    FContentCodingHnd->Reset();
    FResponse.ClearHeader();
    FRequestDoneError = 0;
    FResponse.StatusCode = 0;
    FResponse.ReasonPhrase.clear();
    FResponse.RcvdCount = 0;
    FReader.Reset();
    FHeaderLineCount = 0;
    FBodyLineCount = 0;
    FHeaderEndFlag = false;
    FResponseVer.clear();
    FConn.CloseReq = Request.RequestVer() == "1.0";
}

// Closes the connection after the events already queued. The notice names the
// connection it was meant for, so it never closes a newer one (a relocation's).
void THttpCli::CloseAfterQueuedEvents() {
    if (FConn.CloseDelayedPending)
        return;
    FConn.CloseDelayedPending = true;
    const std::weak_ptr<bool> alive = FAlive;
    const uint64_t connection = FConn.Number;
    TEventQueue::ForThisThread().Post([this, alive, connection] {
        if (alive.expired() || connection != FConn.Number)
            return;
        Guarded([&] { FCtrlSocket->Close(); });
    });
}
