#include "tests/fetch/http_feed_rig.h"

#include "fetch/http_url.h"
#include "platform/event_queue.h"

#include <cstring>

TFeedCli::TFeedCli() {
    SetRcvdStream(&Body);
    SetOptions({httpoEnableContentCoding});
}

void TFeedCli::BeginResponse(const QString& url) {
    Request.URL = url;
    FConn.Aim(SplitHttpUrl(url));
    FConn.TakeTarget();
    ++FRequestNumber;
    ResetResponse();
    FResponse.Location = url;
    FConn.Connected = true;
    FState = httpWaitingHeader;
}

void TFeedCli::Feed(const QByteArray& piece) {
    FPending += piece;
    while (!FPending.isEmpty())
        Guarded([this] { HandleDataAvailable(0); });
    Pump();
}

QByteArray TFeedCli::RequestBytes() {
    SendRequest();
    return FSendBuffer;
}

void TFeedCli::LeaveSetReadyQueued() {
    Guarded([this] { HandleClosed(0); });
}

void TFeedCli::CloseFromServer(int error) {
    FPending.clear();
    FTaken = 0;
    Guarded([this, error] { HandleClosed(error); });
    Pump();
}

void TFeedCli::Pump() {
    TEventQueue::ForThisThread().Pump();
}

int TFeedCli::ReceiveBytes(char* buffer, int length) {
    const int count = int(std::min<qsizetype>(length, FPending.size() - FTaken));
    std::memcpy(buffer, FPending.constData() + FTaken, count);
    FTaken += count;
    if (FTaken == FPending.size()) {
        FPending.clear();
        FTaken = 0;
    }
    return count;
}

TFeedOutcome FeedPieces(TFeedCli& cli, const QByteArray& response, const QList<int>& pieces,
                        int closeError) {
    int at = 0;
    for (int size : pieces) {
        cli.Feed(response.mid(at, size));
        at += size;
    }
    if (closeError >= 0)
        cli.CloseFromServer(closeError);
    const THttpResponseInfo& r = cli.Response();
    return {cli.Ready(),  r.StatusCode, r.ReasonPhrase, cli.RequestError(), cli.Body.Data(),
            r.RcvdHeader, r.RcvdCount,  r.ContentType,  r.ContentLength,    r.Location};
}

TFeedOutcome RunFeed(const QByteArray& response, const QList<int>& pieces, bool close) {
    TFeedCli cli;
    cli.BeginResponse();
    return FeedPieces(cli, response, pieces, close ? 0 : -1);
}
