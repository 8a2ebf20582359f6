#pragma once

#include "fetch/http_connection_state.h"
#include "fetch/http_errors.h"
#include "fetch/http_request_settings.h"
#include "fetch/http_response_info.h"
#include "fetch/http_response_reader.h"
#include "fetch/ws_socket.h"
#include "platform/memory_stream.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <set>

class THttpContCodHandler;

// The codings every request offers while content decoding is on: the decoding
// stage's own and "br", which the fetch job decodes itself (BrotliCoding). A test
// holds the two lists together.
inline constexpr char OfferedContentCodings[] = "gzip, deflate, br";

// Relocations one Get follows.
constexpr int32_t LocationChangeMaxCount = 5;

enum THttpState {
    httpReady,
    httpNotConnected,
    httpConnected,
    httpDnsLookup,
    httpDnsLookupDone,
    httpWaitingHeader,
    httpWaitingBody,
    httpBodyReceived,
    httpAborting
};

enum THttpCliOption { httpoEnableContentCoding };
using THttpCliOptions = std::set<THttpCliOption>;

// An HTTP/1.0 and 1.1 GET client over one connection at a time.
//
// Three records make up a request: its settings (Request, set by the owner), the
// connection that carries it (FConn) and what came back (Response()). Owns its
// socket, the response reader with its receive buffer, the request buffer and one
// content-decoding stage; it does not own RcvdStream. Get is synchronous: it waits
// on the calling thread's event queue and handles the socket's events and the
// client's own notices there until the response is complete, the request fails,
// nothing happened on the connection for Timeout seconds, or the request has run
// for 10 minutes. A client belongs to the thread that runs Get and is never shared.
//
// The steps live in three files: http_cli.cpp (the request's run, its end and its
// notices), http_cli_request.cpp (connecting and sending) and http_cli_response.cpp
// (reading the response with THttpResponseReader, relocations, the close). A
// response that crosses a bound of response_limits.h ends the request at once with
// the bound's text and error number.
//
// The client's own notices (set-ready, connect) are tagged with the number of the
// request that posted them. A notice left queued by a request that was aborted or
// has ended is dropped when handled, so it can never complete or continue the
// client's next request.
class THttpCli {
public:
    THttpCli();
    virtual ~THttpCli();
    THttpCli(const THttpCli&) = delete;
    THttpCli& operator=(const THttpCli&) = delete;

    THttpRequestSettings Request;
    // Content decoding is on exactly when httpoEnableContentCoding is in the set.
    void SetOptions(const THttpCliOptions& options);
    TMemoryStream* RcvdStream() const { return FRcvdStream; }
    void SetRcvdStream(TMemoryStream* stream) { FRcvdStream = stream; }

    // Synchronous GET of Request.URL; raises EHttpException on failure or a status
    // of 400 and above other than 401 and 407.
    void Get();
    // Handles, without blocking, every event pending for the calling thread.
    void MessagePump();

    const THttpResponseInfo& Response() const { return FResponse; }
    int32_t StatusCode() const { return FResponse.StatusCode; }
    QString ReasonPhrase() const { return FResponse.ReasonPhrase; }
    QString ContentEncoding() const { return FResponse.ContentEncoding; }
    const QStringList& RcvdHeader() const { return FResponse.RcvdHeader; }
    THttpState State() const { return FState; }
    int32_t LocationChangeCurCount() const { return FLocationChangeCurCount; }

protected:
    // A client over the given kind of socket (TSslHttpCli passes a TLS socket): the
    // socket is made once, by the most derived constructor, and wired here.
    explicit THttpCli(std::unique_ptr<TWSocket> socket);
    // Gives the socket the address found and the target's port.
    virtual void PrepareConnect();
    // Takes up an idle connection to the current target kept from an earlier
    // client, instead of connecting; false when there is none (the default).
    virtual bool AdoptIdleConnection() { return false; }
    // Starts a new connection to the target; a test double may stop here.
    virtual void OpenConnection();
    // Reads received bytes from the connection; the response steps never touch the
    // socket otherwise, so a test may hand them bytes from anywhere.
    virtual int ReceiveBytes(char* buffer, int length);

    void SendRequest();
    // One line of the status line and header, one byte per character.
    void ParseHeaderLine(const QString& line);
    // One piece of the body, its transfer framing already removed.
    void GetBodyLineNext(const char* data, int64_t count);
    void QueueRequestLine(const QString& line);
    void ResetResponse();
    void FollowLocation();
    void HandleLookupDone(int error);
    void HandleClosed(int error);
    void HandleConnected(int error);
    void HandleDataAvailable(int error);
    void RelocateAfterClose(int error);
    void StartRequest();
    void RunRequest();
    void ChangeState(THttpState newState);

    // The two notices the client posts to itself.
    enum TNotice { WM_HTTP_SET_READY, WM_HTTP_LOGIN };
    void PostNotice(TNotice notice);
    void HandleNotice(TNotice notice, uint64_t requestNumber);
    // Routes a failure inside event handling to Abort.
    void HandleEventFailure();
    // Ends the current request at once with "Connection aborted on request".
    void Abort();
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
    // A Location line: the request moves there once the response has been read.
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

    std::unique_ptr<TWSocket> FCtrlSocket;
    std::unique_ptr<THttpContCodHandler> FContentCodingHnd;
    TMemoryStream* FRcvdStream = nullptr;
    THttpConnectionState FConn;
    THttpResponseInfo FResponse;
    THttpState FState = httpReady;
    uint64_t FRequestNumber = 0; // 0 until the first request starts
    bool FLoginPending = false;

    // The request's progress (see the response reader for the header and body).
    bool FLocationFlag = false; // a Location is followed once the response is read
    int32_t FLocationChangeCurCount = 0;
    int32_t FRequestDoneError = 0;
    QString FResponseVer;
    int FHeaderLineCount = 0;
    int FBodyLineCount = 0;
    bool FHeaderEndFlag = false;
    THttpResponseReader FReader; // the received bytes not yet handled, and their framing
    int64_t FRcvdStreamStartSize = 0;
    QByteArray FSendBuffer;
    // Lets a queued notice see whether its client still exists.
    std::shared_ptr<bool> FAlive = std::make_shared<bool>(true);
};
