#include "fetch/http_cli.h"

#include "fetch/content_coding.h"
#include "fetch/http_url.h"
#include "fetch/response_limits.h"
#include "fetch/ws_socket.h"

// The response side of THttpCli: the received bytes go through the response
// reader, whose lines and body pieces the steps below interpret; relocations and
// the connection's close end or continue the request.

namespace {

// Room offered to each read from the connection.
constexpr int ReceiveStep = 8192;

const QString kNoStatus = QString::fromLatin1(HttpNoStatusReason);

bool IsHeaderlessStart(const QString& line) {
    return line.startsWith(u'<') && (line.left(6).compare("<HTML>", Qt::CaseInsensitive) == 0 ||
                                     line.left(9).compare("<!DOCTYPE", Qt::CaseInsensitive) == 0);
}

} // namespace

int THttpCli::ReceiveBytes(char* buffer, int length) {
    return FCtrlSocket->Receive(buffer, length);
}

void THttpCli::HandleDataAvailable(int /*error*/) {
    int room = 0;
    char* space = FReader.Space(ReceiveStep, room);
    const int count = ReceiveBytes(space, room);
    if (FRequestNumber == 0 || count <= 0)
        return;
    FConn.ResponseBytes += count;
    FReader.Written(count);
    ProcessReceived();
}

// Lines go to ParseHeaderLine while the header is awaited, body pieces to
// GetBodyLineNext; in any other state what was received is dropped.
void THttpCli::ProcessReceived() {
    for (;;) {
        if (FState != httpWaitingHeader && FState != httpWaitingBody) {
            FReader.Finish();
            return;
        }
        switch (FReader.Next()) {
        case hriNeedMore:
            return;
        case hriLine:
            ParseHeaderLine(QString::fromLatin1(FReader.Line()));
            break;
        case hriBody:
            GetBodyLineNext(FReader.Body().data(), FReader.Body().size());
            break;
        case hriBodyEnd:
            BodyComplete();
            break;
        case hriLimit:
            throw FReader.Failure();
        }
    }
}

void THttpCli::ParseHeaderLine(const QString& line) {
    if (FHeaderLineCount == 0 && IsHeaderlessStart(line)) {
        // A page without a header: the body runs to the end of the connection.
        if (FResponse.ContentType.isEmpty())
            FResponse.ContentType = "text/html";
        ChangeState(httpWaitingBody);
        FReader.StartBody(hbfToClose);
        return;
    }
    if (FHeaderLineCount == 0)
        FHeaderEndFlag = true;
    if (line.isEmpty()) {
        EndOfHeader();
        return;
    }
    FResponse.RcvdHeader.append(line);
    if (FHeaderLineCount++ == 0)
        ParseStatusLine(line);
    else
        ParseHeaderField(line);
}

void THttpCli::ParseStatusLine(const QString& line) {
    if (!line.startsWith("HTTP/1.0") && !line.startsWith("HTTP/1.1"))
        return;
    FResponseVer = line.mid(5, 3);
    FConn.CloseReq = Request.RequestVer() == "1.0" || FResponseVer == "1.0";
    // The code is the first digit from position 10 (counting from 1) on.
    qsizetype p = 9;
    while (p < line.size() && !line[p].isDigit())
        ++p;
    const QString code = line.mid(p, 3);
    bool number = !code.isEmpty();
    for (QChar c : code)
        number = number && c >= u'0' && c <= u'9';
    FResponse.StatusCode = number ? code.toInt() : 0;
    // Every failure log line carries the phrase, so only its start is kept. The line
    // was read as Latin-1: one byte is one character, and any cut falls between two.
    FResponse.ReasonPhrase = line.mid(p + 4, MaxReasonPhraseChars);
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
        SetRelocation(value);
    } else if (name == "content-length") {
        bool ok = false;
        FResponse.ContentLength = value.trimmed().toLongLong(&ok);
        if (!ok || FResponse.ContentLength < 0)
            FResponse.ContentLength = -1;
    } else if (name == "transfer-encoding") {
        FResponse.TransferEncoding = value.toLower();
    } else if (name == "content-type") {
        FResponse.ContentType = value.toLower();
    } else if (name == "content-encoding") {
        FResponse.ContentEncoding = value;
    } else if (name == "connection" || name == "proxy-connection") {
        const QString mode = value.trimmed().toLower();
        if (mode == "close")
            FConn.CloseReq = true;
        else if (mode == "keep-alive")
            FConn.CloseReq = false;
    }
}

void THttpCli::SetRelocation(const QString& value) {
    FLocationFlag = true;
    const THttpRelocation target =
        ResolveRelocation(FConn.Protocol, FConn.HostName, FConn.Path, value);
    FConn.Aim(target);
    FResponse.Location = target.Location;
}

THttpBodyFraming THttpCli::BodyFraming() const {
    if (FResponse.TransferEncoding == "chunked")
        return hbfChunked;
    return FResponse.ContentLength >= 0 ? hbfLength : hbfToClose;
}

void THttpCli::EndOfHeader() {
    FHeaderEndFlag = false;
    if (FResponseVer == "1.1" && FResponse.StatusCode == 100) {
        // An interim response: the next line starts the real header.
        FResponse.RcvdHeader.clear();
        FHeaderLineCount = 0;
        return;
    }
    if (FState == httpReady) {
        FReader.Finish();
        return;
    }
    const bool noBodyStatus = FResponse.StatusCode < 200 || FResponse.StatusCode == 204 ||
                              FResponse.StatusCode == 301 || FResponse.StatusCode == 302 ||
                              FResponse.StatusCode == 304;
    const bool noBody = (FResponse.ContentLength == -1 && FResponse.TransferEncoding != "chunked" &&
                         noBodyStatus) ||
                        FResponse.ContentLength == 0;
    if (noBody) {
        FReader.Finish();
        if (FLocationFlag)
            FollowLocation();
        else if (FConn.CloseReq)
            CloseAfterQueuedEvents(); // the request ends in HandleClosed
        else
            PostNotice(WM_HTTP_SET_READY);
        return;
    }
    // Bytes that came with the header's end are the body's first; the reader hands
    // them out in the same pass.
    ChangeState(httpWaitingBody);
    FReader.StartBody(BodyFraming(), FResponse.ContentLength);
}

void THttpCli::GetBodyLineNext(const char* data, int64_t count) {
    if (FBodyLineCount++ == 0) {
        FContentCodingHnd->Prepare(FResponse.ContentEncoding);
        FRcvdStreamStartSize = FRcvdStream ? FRcvdStream->Size() : 0;
    }
    FContentCodingHnd->WriteBuffer(data, count);
    FResponse.RcvdCount += count;
}

// The body ended by its length or its last chunk (not by the close).
void THttpCli::BodyComplete() {
    EndOfBody();
    if (FConn.CloseReq)
        CloseAfterQueuedEvents();
    if (FLocationFlag)
        FollowLocation();
    else
        PostNotice(WM_HTTP_SET_READY);
}

void THttpCli::EndOfBody() {
    FBodyLineCount = 0;
    ChangeState(httpBodyReceived);
    FContentCodingHnd->Complete();
}

void THttpCli::CutRcvdStream() {
    if (FRcvdStream && FRcvdStream->Size() > FRcvdStreamStartSize)
        FRcvdStream->SetSize(FRcvdStreamStartSize);
}

void THttpCli::FollowLocation() {
    FResponse.RcvdCount = 0;
    FReader.Finish();
    FHeaderLineCount = 0;
    FBodyLineCount = 0;
    const bool sameTarget = FConn.AtCurrentTarget() && FCtrlSocket->State() == wsConnected;
    if (!sameTarget || FConn.CloseReq) {
        SetClosedHandler(&THttpCli::RelocateAfterClose);
        CloseAfterQueuedEvents();
        return;
    }
    if (++FLocationChangeCurCount > LocationChangeMaxCount) {
        PostNotice(WM_HTTP_SET_READY);
        return;
    }
    // A GET stays a GET on a relocation.
    ResetResponse();
    CutRcvdStream();
    PostNotice(WM_HTTP_LOGIN);
}

void THttpCli::RelocateAfterClose(int /*error*/) {
    FConn.Connected = false;
    FLocationFlag = false;
    SetClosedHandler(&THttpCli::HandleClosed);
    if (++FLocationChangeCurCount > LocationChangeMaxCount) {
        PostNotice(WM_HTTP_SET_READY);
        return;
    }
    FResponse.ClearHeader();
    FHeaderLineCount = 0;
    FBodyLineCount = 0;
    FResponseVer.clear();
    FContentCodingHnd->Reset();
    CutRcvdStream();
    PostNotice(WM_HTTP_LOGIN);
}

// Once a request has ended (State httpReady), a late close changes none of its
// results: it only drops what was buffered and marks the client not connected.
// Every byte received before the close has been read by then (the socket offers
// them all before it reports the close).
void THttpCli::HandleClosed(int error) {
    FReader.Finish();
    FConn.Connected = false;
    if (FState == httpReady || ResendOnNewConnection())
        return;
    if (error != 0)
        FRequestDoneError = error;
    if (FHeaderEndFlag) {
        // A header cut off by the close: no response came whole, and none will.
        FHeaderEndFlag = false;
        if (FLocationFlag) {
            RelocateAfterClose(0);
            return;
        }
        if (FState == httpAborting)
            return; // the abort's own failure stands
        SetFailure(0, kNoStatus, error != 0 ? error : HttpNoStatusError);
        PostNotice(WM_HTTP_SET_READY);
        return;
    }
    if (FBodyLineCount > 0 && FState != httpAborting)
        EndOfBody();
    if (FLocationFlag) {
        RelocateAfterClose(0);
        return;
    }
    if (FRequestDoneError == 0 && FResponse.StatusCode == 0)
        SetFailure(0, kNoStatus, HttpNoStatusError);
    PostNotice(WM_HTTP_SET_READY);
}

bool THttpCli::ResendOnNewConnection() {
    if (!FConn.SentOnKeptConnection || FConn.Resent || FConn.ResponseBytes > 0 ||
        FState != httpWaitingHeader)
        return false;
    FConn.Resent = true;
    FConn.SentOnKeptConnection = false;
    ChangeState(httpNotConnected);
    PostNotice(WM_HTTP_LOGIN);
    return true;
}
