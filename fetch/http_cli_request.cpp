#include "fetch/http_cli.h"

#include "fetch/content_coding.h"
#include "fetch/http_url.h"
#include "fetch/socket_error.h"
#include "fetch/ws_socket.h"

#include <QLocale>

// The request side of THttpCli: where the request goes, the connection to it, and
// the request on the wire.

namespace {

QString SocketFailureText(int error) {
    return SocketErrorDesc(error) + " (Error #" + QString::number(error) + ")";
}

} // namespace

bool THttpCli::ConnectionReusable() const {
    return FConnected && FCtrlSocket->State() == wsConnected && FHostName == FCurrentHost &&
           FPort == FCurrentPort && FProtocol == FCurrentProtocol;
}

void THttpCli::StartRequest(THttpRequest request) {
    if (FState != httpReady)
        throw EHttpException("HTTP component " + Name + " is busy", HttpBusyError);
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
    FResent = false;
    FSentOnKeptConnection = reuse;
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
    FSentOnKeptConnection = FCtrlSocket->State() == wsConnected;
    if (!FSentOnKeptConnection && !FResent && AdoptIdleConnection()) {
        FSentOnKeptConnection = true;
        FCurrentHost = FHostName;
        FCurrentPort = FPort;
        FCurrentProtocol = FProtocol;
        ++FConnectionNumber;
        FCloseDelayedPending = false;
    }
    if (FSentOnKeptConnection) {
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
        FStatusCode = HttpFailureStatus;
        FReasonPhrase = e.Message();
        FConnected = false;
        ChangeState(httpReady);
    }
}

void THttpCli::HandleLookupDone(int error) {
    if (error != 0) {
        if (FState != httpAborting) {
            SetFailure(HttpFailureStatus, "can't resolve hostname to IP address", error);
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
        SetFailure(HttpFailureStatus, "can't connect: " + SocketFailureText(n), n);
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
        SetFailure(HttpFailureStatus, SocketFailureText(error), error);
        return;
    }
    FLocationFlag = false;
    FConnected = true;
    ChangeState(httpConnected);
    FReader.Reset();
    FResponseBytes = 0;
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
