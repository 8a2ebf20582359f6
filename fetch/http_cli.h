#pragma once

#include "fetch/http_errors.h"
#include "fetch/http_response_reader.h"
#include "fetch/ws_socket.h"
#include "platform/exception.h"
#include "platform/memory_stream.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <set>

class THttpContCodHandler;

// The one error type Get raises: the message is the client's ReasonPhrase, the
// code the request's error number (fetch/http_errors.h, or a socket error number),
// else the HTTP status code.
class EHttpException : public Exception {
public:
    EHttpException(QString message, uint16_t errorCode)
        : Exception(std::move(message)), FErrorCode(errorCode) {}
    uint16_t ErrorCode() const { return FErrorCode; }

private:
    uint16_t FErrorCode;
};

enum THttpState {
    httpReady,
    httpNotConnected,
    httpConnected,
    httpDnsLookup,
    httpDnsLookupDone,
    httpWaitingHeader,
    httpWaitingBody,
    httpBodyReceived,
    httpWaitingProxyConnect,
    httpClosing,
    httpAborting
};

enum THttpCliOption {
    httpoNoBasicAuth,
    httpoNoNTLMAuth,
    httpoBandwidthControl,
    httpoEnableContentCoding,
    httpoUseQuality,
    httpoNoDigestAuth
};
using THttpCliOptions = std::set<THttpCliOption>;

// The request kinds this client carries; none before the first request.
enum THttpRequest { httpNone, httpGET, httpHEAD };

// An HTTP/1.0 and 1.1 client over one connection at a time.
//
// Owns its socket (CtrlSocket), the response reader with its receive buffer, the
// received header lines, the request buffer and one content-decoding stage; it does
// not own RcvdStream. Get is synchronous: it waits on the calling thread's event
// queue and handles the socket's events and the client's own notices there until the
// response is complete, the request fails, nothing happened on the connection for
// Timeout seconds, or the request has run for 10 minutes. A client belongs to the
// thread that runs Get and is never shared.
//
// The steps live in three files: http_cli.cpp (the request's run, its end and its
// notices), http_cli_request.cpp (connecting and sending) and http_cli_response.cpp
// (reading the response with THttpResponseReader, relocations, the close). A
// response that crosses a bound of response_limits.h ends the request at once with
// the bound's text and error number.
//
// The client's own notices (set-ready, request-done, connect) are tagged with the
// number of the request that posted them. A notice left queued by a request that
// was aborted or has ended is dropped when handled, so it can never complete or
// continue the client's next request.
class THttpCli {
public:
    THttpCli();
    virtual ~THttpCli();
    THttpCli(const THttpCli&) = delete;
    THttpCli& operator=(const THttpCli&) = delete;

    // Settings. Those left empty are not sent.
    QString Name; // shown in the busy message
    QString URL;
    QString Reference;
    QString Agent = QStringLiteral("Mozilla/4.0");
    QString Accept = QStringLiteral("image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*");
    QString AcceptLanguage;
    QString Connection;
    QString Sender;
    bool NoCache = false;
    QDateTime ModifiedSince; // sent when valid
    QString Cookie;
    QStringList ExtraHeaders;
    QString ContentRangeBegin;
    QString ContentRangeEnd;
    QString LocalAddr = QStringLiteral("0.0.0.0");
    bool FollowRelocation = true;
    int32_t LocationChangeMaxCount = 5;
    uint32_t Timeout = 30; // seconds without activity before Get gives up
    bool MultiThreaded = false;
    TSocketFamily SocketFamily = sfIPv4; // names are resolved to IPv4 addresses only

    QString RequestVer() const { return FRequestVer; }
    // Only "1.0" and "1.1"; anything else raises "Insupported HTTP version" (5).
    void SetRequestVer(const QString& version);
    THttpCliOptions Options() const { return FOptions; }
    void SetOptions(const THttpCliOptions& options);
    TMemoryStream* RcvdStream() const { return FRcvdStream; }
    void SetRcvdStream(TMemoryStream* stream) { FRcvdStream = stream; }

    // Results, valid after Get returns or raises.
    int32_t StatusCode() const { return FStatusCode; }
    QString ReasonPhrase() const { return FReasonPhrase; }
    QString ContentEncoding() const { return FContentEncoding; }
    QString ContentType() const { return FContentType; }
    int64_t ContentLength() const { return FContentLength; }
    QString TransferEncoding() const { return FTransferEncoding; }
    const QStringList& RcvdHeader() const { return FRcvdHeader; }
    int64_t RcvdCount() const { return FRcvdCount; }
    QString Location() const { return FLocation; }
    THttpState State() const { return FState; }
    int32_t LocationChangeCurCount() const { return FLocationChangeCurCount; }

    // Synchronous GET (HEAD) of URL; raises EHttpException on failure or a status of
    // 400 and above other than 401 and 407.
    void Get();
    void Head();
    // Ends the current request at once with "Connection aborted on request".
    void Abort();
    // Fired by the request-done notice once a request has ended (none by default).
    std::function<void()> OnRequestDone;

    TWSocket* CtrlSocket() const { return FCtrlSocket.get(); }
    // Handles, without blocking, every event pending for the calling thread.
    void MessagePump();

protected:
    // A client over the given kind of socket (TSslHttpCli passes a TLS socket): the
    // socket is made once, by the most derived constructor, and wired here.
    explicit THttpCli(std::unique_ptr<TWSocket> socket);
    virtual void PrepareConnect();
    virtual void SendRequest(const QString& method, const QString& version);
    // One line of the status line and header, one byte per character.
    virtual void ParseHeaderLine(const QString& line);
    // One piece of the body, its transfer framing already removed.
    virtual void GetBodyLineNext(const char* data, int64_t count);
    virtual void QueueRequestLine(const QString& line);
    virtual void OpenConnection();
    virtual void CloseConnection();
    virtual void ResetResponse();
    virtual void FollowLocation();
    virtual void HandleLookupDone(int error);
    virtual void HandleClosed(int error);
    virtual void HandleConnected(int error);
    virtual void HandleDataAvailable(int error);
    virtual void RelocateAfterClose(int error);
    // Takes up an idle connection to the current target kept from an earlier
    // client, instead of connecting; false when there is none (the default).
    virtual bool AdoptIdleConnection() { return false; }
    virtual void StartRequest(THttpRequest request);
    virtual void RunRequest(THttpRequest request);
    virtual void ChangeState(THttpState newState);
    // Reads received bytes from the connection; the response steps never touch the
    // socket otherwise, so a test may hand them bytes from anywhere.
    virtual int ReceiveBytes(char* buffer, int length);

    // The three notices the client posts to itself.
    enum TNotice { WM_HTTP_SET_READY, WM_HTTP_REQUEST_DONE, WM_HTTP_LOGIN };
    void PostNotice(TNotice notice);
    void HandleNotice(TNotice notice, uint64_t requestNumber);
    // Routes a failure inside event handling to Abort.
    void HandleEventFailure();
    void SetFailure(int32_t status, const QString& reason, int error);
    // Ends the running request at once with `reason` and `error` (state httpReady).
    void AbortRequest(const QString& reason, int error);
    uint32_t MillisecondsSinceActivity() const;
    // Ends the request when the process terminates, the connection has been idle
    // for Timeout seconds, or the request has run since `started` for too long.
    void CheckRequestLimits(uint32_t started);
    // Hands what the reader finds in the received bytes to the steps, until it needs
    // more; raises EResponseLimit when the response crosses a bound.
    void ProcessReceived();
    void ParseStatusLine(const QString& line);
    void ParseHeaderField(const QString& line);
    void EndOfHeader();
    void SetRelocation(const QString& value);
    THttpBodyFraming BodyFraming() const;
    void BodyComplete();
    void EndOfBody();
    void CloseAfterQueuedEvents();
    void CutRcvdStream();
    void SetClosedHandler(void (THttpCli::*handler)(int));
    bool ConnectionReusable() const;
    // The request went out on a connection that had served before, and the close
    // came before a byte of the answer: the server ended the idle connection as
    // the request went. The request goes again, once per Get, on a new connection.
    bool ResendOnNewConnection();
    // Runs a step of event handling; a failure aborts the request, a crossed bound
    // with its own text.
    void Guarded(const std::function<void()>& step);

    // Fields the steps share (see the response reader for their meaning).
    std::unique_ptr<TWSocket> FCtrlSocket;
    std::unique_ptr<THttpContCodHandler> FContentCodingHnd;
    TMemoryStream* FRcvdStream = nullptr;
    QString FRequestVer = QStringLiteral("1.0");
    THttpCliOptions FOptions;
    THttpRequest FRequestType = httpNone;
    THttpState FState = httpReady;
    uint64_t FRequestNumber = 0;
    uint64_t FConnectionNumber = 0;
    bool FLoginPending = false;
    bool FCloseDelayedPending = false;
    bool FConnected = false;

    int32_t FStatusCode = 0;
    QString FReasonPhrase;
    QString FContentEncoding;
    QString FContentType;
    int64_t FContentLength = -1;
    QString FTransferEncoding;
    QStringList FRcvdHeader;
    int64_t FRcvdCount = 0;
    QString FLocation;
    int32_t FLocationChangeCurCount = 0;

    bool FCloseReq = false;
    bool FLocationFlag = false;
    int32_t FRequestDoneError = 0;
    QString FResponseVer;
    QString FHostName, FPort, FProtocol, FPath;
    QString FTargetHost, FTargetPort;
    QString FCurrentHost, FCurrentPort, FCurrentProtocol;
    QString FDnsResult;
    int FHeaderLineCount = 0;
    int FBodyLineCount = 0;
    bool FHeaderEndFlag = false;
    THttpResponseReader FReader;        // the received bytes not yet handled, and their framing
    bool FSentOnKeptConnection = false; // the request went out on a connection used before
    bool FResent = false;               // this Get has sent its request again already
    int64_t FResponseBytes = 0;         // received since the request went out
    int64_t FRcvdStreamStartSize = 0;
    QByteArray FSendBuffer;
    // Lets a queued notice see whether its client still exists.
    std::shared_ptr<bool> FAlive = std::make_shared<bool>(true);
};
