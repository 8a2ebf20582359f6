#pragma once

#include "fetch/http_cli.h"

#include <QByteArray>
#include <QStringList>

// A client whose response steps are fed bytes directly, in any pieces, with no
// socket: the request counts as sent and the header awaited.
class TFeedCli : public THttpCli {
public:
    TMemoryStream Body;

    TFeedCli();
    void BeginResponse(const QString& url = "http://example.test/dir/page?q=1");
    // One read per piece, exactly as given.
    void Feed(const QByteArray& piece);
    // The request the client would send now for the URL given to BeginResponse.
    QByteArray RequestBytes();
    // Ends the response by a close but leaves the resulting set-ready notice queued.
    void LeaveSetReadyQueued();
    // The server closes the connection (with a socket error number or 0).
    void CloseFromServer(int error);
    // Handles the client's own queued notices.
    void Pump();

    int RequestError() const { return FRequestDoneError; }
    bool CloseRequested() const { return FConn.CloseReq; }
    bool Ready() const { return FState == httpReady; }

protected:
    int ReceiveBytes(char* buffer, int length) override;

private:
    QByteArray FPending;
    qsizetype FTaken = 0; // of FPending, already read
};

// Everything a finished (or stalled) response leaves behind, for comparing runs.
struct TFeedOutcome {
    bool Ready;
    int Status;
    QString Reason;
    int Error;
    QByteArray Body;
    QStringList Header;
    int64_t RcvdCount;
    QString ContentType;
    int64_t ContentLength;
    QString Location;

    bool operator==(const TFeedOutcome&) const = default;
};

// Feeds `response` to `cli`, whose response has begun, in the given pieces (sizes
// summing to its length), then closes the connection with `closeError` unless it is
// negative; pumps after every step.
TFeedOutcome FeedPieces(TFeedCli& cli, const QByteArray& response, const QList<int>& pieces,
                        int closeError);

// The same with a new client, closing without an error when `close` is set.
TFeedOutcome RunFeed(const QByteArray& response, const QList<int>& pieces, bool close);
