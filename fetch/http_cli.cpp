#include "fetch/http_cli.h"

#include "fetch/content_coding.h"
#include "fetch/http_url.h"
#include "fetch/socket_error.h"
#include "fetch/ws_socket.h"
#include "fetch/zlib_coding.h"
#include "platform/event_queue.h"
#include "platform/process_state.h"
#include "platform/tick_count.h"

#include <QLocale>

#include <cstring>
#include <limits>

namespace {

const QString kAborted = QStringLiteral("Connection aborted on request");
const QString kNoStatus = QStringLiteral("HTTP no status code (connection closed prematurely)");

QString SocketFailureText(int error) {
    return SocketErrorDesc(error) + " (Error #" + QString::number(error) + ")";
}

bool IsHeaderlessStart(const QString& line) {
    return line.startsWith(u'<') && (line.left(6).compare("<HTML>", Qt::CaseInsensitive) == 0 ||
                                     line.left(9).compare("<!DOCTYPE", Qt::CaseInsensitive) == 0);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

THttpCli::THttpCli() {
    RegisterZlibContentCoding();
    FContentCodingHnd = std::make_unique<THttpContCodHandler>(&FRcvdStream, TWriteBufferProc());
    InitCtrlSocket();
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

void THttpCli::InitCtrlSocket() {
    FCtrlSocket = CreateCtrlSocket();
    FCtrlSocket->OnDnsLookupDone = [this](int e) { Guarded([&] { HandleLookupDone(e); }); };
    FCtrlSocket->OnSessionConnected = [this](int e) { Guarded([&] { HandleConnected(e); }); };
    FCtrlSocket->OnDataAvailable = [this](int e) { Guarded([&] { HandleDataAvailable(e); }); };
    FCtrlSocket->OnEventFailure = [this](const std::exception&) { HandleEventFailure(); };
    SetClosedHandler(&THttpCli::HandleClosed);
}

std::unique_ptr<TWSocket> THttpCli::CreateCtrlSocket() {
    return std::make_unique<TWSocket>();
}

void THttpCli::SetClosedHandler(void (THttpCli::*handler)(int)) {
    FCtrlSocket->OnSessionClosed = [this, handler](int e) {
        Guarded([&] { (this->*handler)(e); });
    };
}

void THttpCli::Guarded(const std::function<void()>& step) {
    try {
        step();
    } catch (const std::exception&) {
        HandleEventFailure();
    }
}

void THttpCli::HandleEventFailure() {
    if (FState != httpAborting)
        Abort();
}

void THttpCli::SetRequestVer(const QString& version) {
    if (version != "1.0" && version != "1.1")
        throw EHttpException("Insupported HTTP version", 5);
    FRequestVer = version;
}

void THttpCli::SetOptions(const THttpCliOptions& options) {
    FOptions = options;
    FContentCodingHnd->SetEnabled(options.contains(httpoEnableContentCoding));
    FContentCodingHnd->SetUseQuality(options.contains(httpoUseQuality));
}

void THttpCli::MessagePump() {
    TEventQueue::ForThisThread().Pump();
}

void THttpCli::Get() {
    FLocationChangeCurCount = 0;
    RunRequest(httpGET);
}

void THttpCli::Head() {
    FLocationChangeCurCount = 0;
    RunRequest(httpHEAD);
}

// ---- request side -------------------------------------------------------------

void THttpCli::RunRequest(THttpRequest request) {
    StartRequest(request);
    FCtrlSocket->Counter.LastSendTick = TickCount();
    TEventQueue& queue = TEventQueue::ForThisThread();
    while (FState != httpReady) {
        if (queue.WaitForEvent(1000))
            queue.Pump();
        if (FState == httpReady)
            break;
        const bool terminating = ApplicationTerminating();
        if (terminating)
            AbortRequest("Request aborted", 3);
        else if (MillisecondsSinceActivity() >= uint64_t(Timeout) * 1000)
            AbortRequest("Request aborted on timeout", 8);
    }
    if (FRequestDoneError != 0)
        throw EHttpException(FReasonPhrase, static_cast<uint16_t>(FRequestDoneError));
    if (FStatusCode >= 400 && FStatusCode != 401 && FStatusCode != 407)
        throw EHttpException(FReasonPhrase, static_cast<uint16_t>(FStatusCode));
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
    SetFailure(404, reason, error);
    if (lookup)
        HandleClosed(0);
    else
        FCtrlSocket->Close();
    FConnected = false;
    ChangeState(httpReady);
}

void THttpCli::Abort() {
    FLocationFlag = false;
    FRcvdCount = 0;
    FReceiveLen = 0;
    if (FState != httpReady) {
        AbortRequest(kAborted, 3);
        return;
    }
    if (FCtrlSocket->State() != wsClosed)
        FCtrlSocket->Abort();
    FStatusCode = 200;
    FReasonPhrase = "OK";
    FRequestDoneError = 0;
    if (OnRequestDone)
        OnRequestDone();
}

void THttpCli::SetFailure(int32_t status, const QString& reason, int error) {
    FStatusCode = status;
    FReasonPhrase = reason;
    FRequestDoneError = error;
}

void THttpCli::ChangeState(THttpState newState) {
    const THttpState old = FState;
    FState = newState;
    if (newState == httpReady && old != httpReady)
        PostNotice(WM_HTTP_REQUEST_DONE);
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
        case WM_HTTP_REQUEST_DONE:
            if (OnRequestDone)
                OnRequestDone();
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
    FRcvdHeader.clear();
    FRequestDoneError = 0;
    FStatusCode = 0;
    FReasonPhrase.clear();
    FRcvdCount = 0;
    FReceiveLen = 0;
    FHeaderLineCount = 0;
    FBodyLineCount = 0;
    FHeaderEndFlag = false;
    FContentLength = -1;
    FContentType.clear();
    FTransferEncoding.clear();
    FContentEncoding.clear();
    FResponseVer.clear();
    FCloseReq = FRequestVer == "1.0";
}

bool THttpCli::ConnectionReusable() const {
    return FConnected && FCtrlSocket->State() == wsConnected && FHostName == FCurrentHost &&
           FPort == FCurrentPort && FProtocol == FCurrentProtocol;
}

void THttpCli::StartRequest(THttpRequest request) {
    if (FState != httpReady)
        throw EHttpException("HTTP component " + Name + " is busy", 1);
    const THttpUrlParts url = SplitHttpUrl(URL);
    FProtocol = url.Protocol;
    FHostName = url.HostName;
    FTargetHost = url.Host;
    FTargetPort = url.Port.isEmpty() ? DefaultPort(url.Protocol) : url.Port;
    FPort = FTargetPort;
    FPath = url.Path;
    // Whatever the previous connection still has pending (a late TLS close) ends
    // now, while the client is idle, so none of it reaches this request.
    const bool reuse = ConnectionReusable();
    if (!reuse && FCtrlSocket->State() != wsClosed)
        FCtrlSocket->Abort();
    if (!reuse)
        ++FConnectionNumber;
    ++FRequestNumber;
    FLoginPending = false;
    FCloseDelayedPending = false;
    FRequestType = request;
    ResetResponse();
    FLocation = URL;
    FRcvdStreamStartSize = FRcvdStream ? FRcvdStream->Size() : 0;
    if (reuse) {
        HandleConnected(0);
        return;
    }
    ChangeState(httpNotConnected);
    OpenConnection();
}

void THttpCli::OpenConnection() {
    FStatusCode = 0;
    FLocationFlag = false;
    SetClosedHandler(&THttpCli::HandleClosed);
    if (FCtrlSocket->State() == wsConnected) {
        HandleConnected(0);
        return;
    }
    FDnsResult.clear();
    ++FConnectionNumber;
    FCloseDelayedPending = false;
    ChangeState(httpDnsLookup);
    FCtrlSocket->LocalAddr = LocalAddr;
    FCtrlSocket->SocketFamily = SocketFamily;
    try {
        FCtrlSocket->DnsLookup(FHostName);
    } catch (const Exception& e) {
        FStatusCode = 404;
        FReasonPhrase = e.Message();
        FConnected = false;
        ChangeState(httpReady);
    }
}

void THttpCli::HandleLookupDone(int error) {
    if (error != 0) {
        if (FState != httpAborting) {
            SetFailure(404, "can't resolve hostname to IP address", error);
            HandleClosed(error);
        }
        return;
    }
    FDnsResult = FCtrlSocket->DnsResult();
    ChangeState(httpDnsLookupDone);
    PrepareConnect();
    FCurrentHost = FHostName;
    FCurrentPort = FPort;
    FCurrentProtocol = FProtocol;
    try {
        FCtrlSocket->Connect();
    } catch (const Exception&) {
        const int n = FCtrlSocket->LastError();
        SetFailure(404, "can't connect: " + SocketFailureText(n), n);
        FCtrlSocket->Close();
        HandleClosed(n);
    }
}

void THttpCli::PrepareConnect() {
    FCtrlSocket->Addr = FDnsResult;
    FCtrlSocket->Port = FPort;
    FCtrlSocket->Proto = "tcp";
}

void THttpCli::HandleConnected(int error) {
    if (error != 0) {
        // The request ends when the socket reports the closed connection.
        SetFailure(404, SocketFailureText(error), error);
        return;
    }
    FLocationFlag = false;
    FConnected = true;
    ChangeState(httpConnected);
    FNext = &THttpCli::ParseHeaderLine;
    ChangeState(httpWaitingHeader);
    try {
        SendRequest(FRequestType == httpHEAD ? "HEAD" : "GET", FRequestVer);
    } catch (const std::exception&) {
        CloseConnection();
    }
}

void THttpCli::CloseConnection() {
    FCtrlSocket->Close();
}

// Request lines go out as UTF-8 (the system's own lines are ASCII). A CR or LF
// inside a value would end the line early and let a URL inject header lines, so
// such characters are left out.
void THttpCli::QueueRequestLine(const QString& line) {
    QByteArray bytes = line.toUtf8();
    bytes.removeIf([](char c) { return c == '\r' || c == '\n'; });
    FSendBuffer += bytes;
    FSendBuffer += "\r\n";
}

void THttpCli::SendRequest(const QString& method, const QString& version) {
    FSendBuffer.clear();
    QueueRequestLine(method + " " + FPath + " HTTP/" + version);
    const auto optional = [this](const char* name, const QString& value) {
        if (!value.isEmpty())
            QueueRequestLine(name + value);
    };
    optional("From: ", Sender);
    optional("Accept: ", Accept);
    optional("Referer: ", Reference);
    optional("Connection: ", Connection);
    optional("Accept-Language: ", AcceptLanguage);
    if (FRequestType != httpHEAD && !FContentCodingHnd->HeaderText().isEmpty())
        QueueRequestLine("Accept-Encoding: gzip, deflate, br");
    optional("User-Agent: ", Agent);
    const bool namedPort = !FTargetPort.isEmpty() && FTargetPort != "80" && FTargetPort != "443";
    QueueRequestLine("Host: " + FTargetHost + (namedPort ? ":" + FTargetPort : QString()));
    if (NoCache)
        QueueRequestLine("Pragma: no-cache");
    if (ModifiedSince.isValid())
        QueueRequestLine("If-Modified-Since: " +
                         QLocale::c().toString(ModifiedSince.toUTC(), "ddd, dd MMM yyyy hh:mm:ss") +
                         " GMT");
    optional("Cookie: ", Cookie);
    if (!ContentRangeBegin.isEmpty() || !ContentRangeEnd.isEmpty()) {
        QueueRequestLine("Range: bytes=" + ContentRangeBegin + "-" + ContentRangeEnd);
        ContentRangeBegin.clear();
        ContentRangeEnd.clear();
    }
    for (const QString& extra : ExtraHeaders)
        if (extra.indexOf(": ", 1) >= 1)
            QueueRequestLine(extra);
    FSendBuffer += "\r\n";
    FCtrlSocket->Send(FSendBuffer);
}

// ---- response side ------------------------------------------------------------

int THttpCli::ReceiveBytes(char* buffer, int length) {
    return FCtrlSocket->Receive(buffer, length);
}

void THttpCli::HandleDataAvailable(int /*error*/) {
    if (FReceiveBuffer.size() < FReceiveLen + 8192)
        FReceiveBuffer.resize(FReceiveLen + 8193);
    const int room = static_cast<int>(FReceiveBuffer.size()) - FReceiveLen - 1;
    const int count = ReceiveBytes(FReceiveBuffer.data() + FReceiveLen, room);
    if (FRequestType == httpNone || count <= 0)
        return;
    FReceiveLen += count;
    FReceiveBuffer[FReceiveLen] = '\0';
    ProcessReceived();
}

void THttpCli::RemoveReceived(int count) {
    FReceiveLen -= count;
    std::memmove(FReceiveBuffer.data(), FReceiveBuffer.constData() + count, FReceiveLen);
    FReceiveBuffer[FReceiveLen] = '\0';
}

// Splits the buffered bytes into header lines until the body begins; lines that
// arrive in any state but httpWaitingHeader are dropped.
void THttpCli::ProcessReceived() {
    while (FReceiveLen > 0) {
        if (FState == httpWaitingBody) {
            ProcessBodyBytes();
            return;
        }
        const char* start = FReceiveBuffer.constData();
        const char* lf = static_cast<const char*>(std::memchr(start, '\n', FReceiveLen));
        if (!lf)
            return;
        int length = static_cast<int>(lf - start);
        const int consumed = length + 1;
        if (length > 0 && start[length - 1] == '\r')
            --length;
        FLastResponse = QString::fromLatin1(start, length);
        RemoveReceived(consumed);
        if (FState == httpWaitingHeader && FNext)
            (this->*FNext)();
    }
}

// Hands the buffered body bytes (no more than Content-Length still allows) to the
// body step, then ends the response if the body is complete.
void THttpCli::ProcessBodyBytes() {
    int64_t count = FReceiveLen;
    if (FContentLength >= 0)
        count = std::clamp<int64_t>(FContentLength - FRcvdCount, 0, count);
    if (count > 0 && FNext) {
        // Straight from the receive buffer; the body step never moves it.
        FBodyData = FReceiveBuffer.constData();
        FBodyDataLen = static_cast<int>(count);
        (this->*FNext)();
        RemoveReceived(static_cast<int>(std::min<int64_t>(count, FReceiveLen)));
    }
    if (FState == httpWaitingBody && FNext)
        return;
    if (FState == httpBodyReceived)
        ResponseComplete();
}

void THttpCli::ResponseComplete() {
    if (FLocationFlag)
        FollowLocation();
    else
        PostNotice(WM_HTTP_SET_READY);
}

// Closes the connection after the events already queued. The notice names the
// connection it was meant for, so it never closes a newer one (a relocation's).
void THttpCli::CloseAfterQueuedEvents() {
    if (FCloseDelayedPending)
        return;
    FCloseDelayedPending = true;
    const std::weak_ptr<bool> alive = FAlive;
    const uint64_t connection = FConnectionNumber;
    TEventQueue::ForThisThread().Post([this, alive, connection] {
        if (alive.expired() || connection != FConnectionNumber)
            return;
        Guarded([&] { FCtrlSocket->Close(); });
    });
}

void THttpCli::ParseHeaderLine() {
    const QString line = FLastResponse;
    if (FHeaderLineCount == 0 && IsHeaderlessStart(line)) {
        // A page without a header: the body runs to the end of the connection.
        if (FContentType.isEmpty())
            FContentType = "text/html";
        ChangeState(httpWaitingBody);
        FNext = &THttpCli::GetBodyLineNext;
        return;
    }
    if (FHeaderLineCount == 0)
        FHeaderEndFlag = true;
    if (line.isEmpty()) {
        EndOfHeader();
        return;
    }
    FRcvdHeader.append(line);
    if (FHeaderLineCount++ == 0)
        ParseStatusLine(line);
    else
        ParseHeaderField(line);
}

void THttpCli::ParseStatusLine(const QString& line) {
    if (!line.startsWith("HTTP/1.0") && !line.startsWith("HTTP/1.1"))
        return;
    FResponseVer = line.mid(5, 3);
    FCloseReq = FRequestVer == "1.0" || FResponseVer == "1.0";
    // The code is the first digit from position 10 (counting from 1) on.
    qsizetype p = 9;
    while (p < line.size() && !line[p].isDigit())
        ++p;
    const QString code = line.mid(p, 3);
    bool number = !code.isEmpty();
    for (QChar c : code)
        number = number && c >= u'0' && c <= u'9';
    FStatusCode = number ? code.toInt() : 0;
    FReasonPhrase = line.mid(p + 4);
}

void THttpCli::ParseHeaderField(const QString& line) {
    const qsizetype colon = line.indexOf(u':');
    if (colon < 0)
        return;
    const QString name = line.left(colon).toLower();
    qsizetype p = colon + 1;
    while (p < line.size() - 1 && line[p] == u' ')
        ++p;
    const QString value = line.mid(p);
    if (name == "location") {
        FLocation = value;
        if (FollowRelocation)
            SetRelocation(value);
    } else if (name == "content-length") {
        bool ok = false;
        FContentLength = value.trimmed().toLongLong(&ok);
        if (!ok || FContentLength < 0)
            FContentLength = -1;
    } else if (name == "transfer-encoding") {
        FTransferEncoding = value.toLower();
    } else if (name == "content-type") {
        FContentType = value.toLower();
    } else if (name == "content-encoding") {
        FContentEncoding = value;
    } else if (name == "connection" || name == "proxy-connection") {
        const QString mode = value.trimmed().toLower();
        if (mode == "close")
            FCloseReq = true;
        else if (mode == "keep-alive")
            FCloseReq = false;
    }
}

void THttpCli::SetRelocation(const QString& value) {
    FLocationFlag = true;
    const THttpRelocation target = ResolveRelocation(FProtocol, FHostName, FPath, value);
    FPath = target.Path;
    FLocation = target.Location;
    if (!target.NewTarget)
        return;
    FProtocol = target.Protocol;
    FHostName = target.HostName;
    FPort = target.Port;
    FTargetHost = target.Host;
    FTargetPort = target.PortNamed ? target.Port : QString();
}

void THttpCli::EndOfHeader() {
    FHeaderEndFlag = false;
    if (FResponseVer == "1.1" && FStatusCode == 100) {
        FRcvdHeader.clear();
        FHeaderLineCount = 0;
        return;
    }
    if (FState == httpReady) {
        FReceiveLen = 0;
        return;
    }
    const bool noBodyStatus = FStatusCode < 200 || FStatusCode == 204 || FStatusCode == 301 ||
                              FStatusCode == 302 || FStatusCode == 304;
    const bool noBody = (FContentLength == -1 && FTransferEncoding != "chunked" && noBodyStatus) ||
                        FContentLength == 0 || FRequestType == httpHEAD;
    if (noBody) {
        if (FLocationFlag)
            FollowLocation();
        else if (FCloseReq)
            CloseAfterQueuedEvents(); // the request ends in HandleClosed
        else
            PostNotice(WM_HTTP_SET_READY);
        return;
    }
    ChangeState(httpWaitingBody);
    FNext = &THttpCli::GetBodyLineNext;
    if (FReceiveLen > 0)
        ProcessBodyBytes();
}

void THttpCli::GetBodyLineNext() {
    if (FBodyLineCount++ == 0) {
        FChunkLength = 0;
        FChunkRcvd = 0;
        FChunkState = httpChunkGetSize;
        FContentCodingHnd->Prepare(FContentEncoding);
        FRcvdStreamStartSize = FRcvdStream ? FRcvdStream->Size() : 0;
    }
    if (FTransferEncoding == "chunked") {
        ParseChunked(FBodyData, FBodyDataLen);
        return;
    }
    FContentCodingHnd->WriteBuffer(FBodyData, FBodyDataLen);
    FRcvdCount += FBodyDataLen;
    if (FRcvdCount != FContentLength)
        return;
    EndOfBody();
    if (FCloseReq)
        CloseAfterQueuedEvents();
}

// The chunk parser keeps its state between pieces, so a size, a line end or data may
// be split anywhere.
void THttpCli::ParseChunked(const char* data, int length) {
    // A size this large is no real chunk; saturating keeps the arithmetic defined.
    constexpr int64_t kSizeLimit = std::numeric_limits<int64_t>::max() / 16 - 16;
    int i = 0;
    while (i < length && FChunkState != httpChunkDone) {
        switch (FChunkState) {
        case httpChunkGetSize: {
            const int digit = HexDigit(data[i]);
            if (digit < 0) {
                FChunkState = httpChunkGetExt;
                break;
            }
            FChunkLength = FChunkLength < kSizeLimit ? FChunkLength * 16 + digit : kSizeLimit;
            ++i;
            break;
        }
        case httpChunkGetExt:
            if (data[i++] == '\n')
                FChunkState = FChunkLength == 0 ? httpChunkDone : httpChunkGetData;
            break;
        case httpChunkGetData: {
            const int take =
                static_cast<int>(std::min<int64_t>(FChunkLength - FChunkRcvd, length - i));
            FContentCodingHnd->WriteBuffer(data + i, take);
            FRcvdCount += take;
            FChunkRcvd += take;
            i += take;
            if (FChunkRcvd == FChunkLength)
                FChunkState = httpChunkSkipDataEnd;
            break;
        }
        case httpChunkSkipDataEnd:
            if (data[i++] == '\n') {
                FChunkLength = 0;
                FChunkRcvd = 0;
                FChunkState = httpChunkGetSize;
            }
            break;
        case httpChunkDone:
            break;
        }
    }
    if (FChunkState != httpChunkDone)
        return;
    EndOfBody();
    if (FCloseReq)
        CloseAfterQueuedEvents();
}

void THttpCli::EndOfBody() {
    FBodyLineCount = 0;
    FNext = nullptr;
    ChangeState(httpBodyReceived);
    FContentCodingHnd->Complete();
}

void THttpCli::CutRcvdStream() {
    if (FRcvdStream && FRcvdStream->Size() > FRcvdStreamStartSize)
        FRcvdStream->SetSize(FRcvdStreamStartSize);
}

void THttpCli::FollowLocation() {
    FRcvdCount = 0;
    FReceiveLen = 0;
    FHeaderLineCount = 0;
    FBodyLineCount = 0;
    const bool sameTarget = FHostName == FCurrentHost && FPort == FCurrentPort &&
                            FProtocol == FCurrentProtocol && FCtrlSocket->State() == wsConnected;
    if (!sameTarget || FCloseReq) {
        SetClosedHandler(&THttpCli::RelocateAfterClose);
        CloseAfterQueuedEvents();
        return;
    }
    if (++FLocationChangeCurCount > LocationChangeMaxCount) {
        PostNotice(WM_HTTP_SET_READY);
        return;
    }
    // Only GET and HEAD are sent, and neither changes method on a relocation.
    ResetResponse();
    CutRcvdStream();
    PostNotice(WM_HTTP_LOGIN);
}

void THttpCli::RelocateAfterClose(int /*error*/) {
    FConnected = false;
    FLocationFlag = false;
    SetClosedHandler(&THttpCli::HandleClosed);
    if (++FLocationChangeCurCount > LocationChangeMaxCount) {
        PostNotice(WM_HTTP_SET_READY);
        return;
    }
    FRcvdHeader.clear();
    FHeaderLineCount = 0;
    FBodyLineCount = 0;
    FContentType.clear();
    FTransferEncoding.clear();
    FContentEncoding.clear();
    FResponseVer.clear();
    FContentLength = -1;
    CutRcvdStream();
    PostNotice(WM_HTTP_LOGIN);
}

// Once a request has ended (State httpReady), a late close changes none of its
// results: it only drops what was buffered and marks the client not connected.
void THttpCli::HandleClosed(int error) {
    FReceiveLen = 0;
    FConnected = false;
    if (FState == httpReady)
        return;
    if (error != 0)
        FRequestDoneError = error;
    if (FHeaderEndFlag) {
        // A header cut off by the close completes nothing; only the time-out ends it.
        FHeaderEndFlag = false;
        if (FLocationFlag)
            RelocateAfterClose(0);
        return;
    }
    if (FBodyLineCount > 0 && FState != httpAborting)
        EndOfBody();
    if (FLocationFlag) {
        RelocateAfterClose(0);
        return;
    }
    if (FRequestDoneError == 0 && FStatusCode == 0)
        SetFailure(0, kNoStatus, 9);
    PostNotice(WM_HTTP_SET_READY);
}
