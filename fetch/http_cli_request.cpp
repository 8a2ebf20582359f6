#include "fetch/http_cli.h"

#include "fetch/content_coding.h"
#include "fetch/http_url.h"
#include "fetch/socket_error.h"
#include "fetch/ws_socket.h"

// The request side of THttpCli: where the request goes, the connection to it, and
// the request on the wire.

namespace {

QString SocketFailureText(int error) {
    return SocketErrorDesc(error) + " (Error #" + QString::number(error) + ")";
}

} // namespace

bool THttpCli::ConnectionReusable() const {
    return FConn.Connected && FCtrlSocket->State() == wsConnected && FConn.AtCurrentTarget();
}

void THttpCli::StartRequest() {
    if (FState != httpReady)
        throw EHttpException(HttpBusyReason, HttpBusyError);
    FConn.Aim(SplitHttpUrl(Request.URL));
    // Whatever the previous connection still has pending (a late TLS close) ends
    // now, while the client is idle, so none of it reaches this request.
    const bool reuse = ConnectionReusable();
    if (!reuse && FCtrlSocket->State() != wsClosed)
        FCtrlSocket->Abort();
    if (!reuse)
        ++FConn.Number;
    ++FRequestNumber;
    FLoginPending = false;
    FConn.CloseDelayedPending = false;
    ResetResponse();
    FResponse.Location = Request.URL;
    FRcvdStreamStartSize = FRcvdStream ? FRcvdStream->Size() : 0;
    FConn.Resent = false;
    FConn.SentOnKeptConnection = reuse;
    if (reuse) {
        HandleConnected(0);
        return;
    }
    ChangeState(httpNotConnected);
    OpenConnection();
}

void THttpCli::OpenConnection() {
    FResponse.StatusCode = 0;
    FLocationFlag = false;
    SetClosedHandler(&THttpCli::HandleClosed);
    FConn.SentOnKeptConnection = FCtrlSocket->State() == wsConnected;
    if (!FConn.SentOnKeptConnection && !FConn.Resent && AdoptIdleConnection()) {
        FConn.SentOnKeptConnection = true;
        FConn.TakeTarget();
        ++FConn.Number;
        FConn.CloseDelayedPending = false;
    }
    if (FConn.SentOnKeptConnection) {
        HandleConnected(0);
        return;
    }
    FConn.DnsResult.clear();
    ++FConn.Number;
    FConn.CloseDelayedPending = false;
    ChangeState(httpDnsLookup);
    try {
        FCtrlSocket->DnsLookup(FConn.HostName);
    } catch (const Exception& e) {
        FResponse.StatusCode = HttpFailureStatus;
        FResponse.ReasonPhrase = e.Message();
        FConn.Connected = false;
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
    FConn.DnsResult = FCtrlSocket->DnsResult();
    ChangeState(httpDnsLookupDone);
    PrepareConnect();
    FConn.TakeTarget();
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
    FCtrlSocket->Addr = FConn.DnsResult;
    FCtrlSocket->Port = FConn.Port;
    FCtrlSocket->Proto = "tcp";
}

void THttpCli::HandleConnected(int error) {
    if (error != 0) {
        // The request ends when the socket reports the closed connection.
        SetFailure(HttpFailureStatus, SocketFailureText(error), error);
        return;
    }
    FLocationFlag = false;
    FConn.Connected = true;
    ChangeState(httpConnected);
    FReader.Reset();
    FConn.ResponseBytes = 0;
    ChangeState(httpWaitingHeader);
    try {
        SendRequest();
    } catch (const std::exception&) {
        FCtrlSocket->Close();
    }
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

void THttpCli::SendRequest() {
    FSendBuffer.clear();
    QueueRequestLine("GET " + FConn.Path + " HTTP/" + Request.RequestVer());
    const auto optional = [this](const char* name, const QString& value) {
        if (!value.isEmpty())
            QueueRequestLine(name + value);
    };
    optional("Accept: ", Request.Accept);
    optional("Referer: ", Request.Reference);
    if (!FContentCodingHnd->HeaderText().isEmpty())
        QueueRequestLine(QStringLiteral("Accept-Encoding: ") + OfferedContentCodings);
    optional("User-Agent: ", Request.Agent);
    const QString& port = FConn.TargetPort;
    const bool namedPort = !port.isEmpty() && port != "80" && port != "443";
    QueueRequestLine("Host: " + FConn.TargetHost + (namedPort ? ":" + port : QString()));
    FSendBuffer += "\r\n";
    FCtrlSocket->Send(FSendBuffer);
}
