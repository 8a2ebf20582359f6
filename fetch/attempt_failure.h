#pragma once

#include <QString>

class THttpCli;

// What ended a failed attempt, kept as a value until the one place that logs it and
// decides whether the next attempt waits: the failure's message and what the client
// showed when it was raised.
struct TAttemptFailure {
    QString Reason;
    // The client's status code when the attempt failed: it stands in for an empty reason.
    int StatusCode = 0;
    // The client's reason phrase when the attempt failed.
    QString ClientReason;
    // The connection closed after a whole status line and before the header's end. The
    // client ends such a request at once; a client that waited for the inactivity
    // time-out instead would have paused as after that time-out.
    bool HeaderCut = false;

    // The failure being handled, with the state of `client`, which ran the attempt;
    // only to be called inside a catch block.
    static TAttemptFailure Current(const THttpCli& client);

    // Connection trouble, so the next attempt waits a moment: the reason, its ASCII
    // letters lower-cased, holds "socket" or "#10061" (a refused connection), the
    // client's reason phrase is its inactivity time-out's, or the header was cut.
    bool NeedsPause() const;
    // "ERROR_" and the reason, or, for an empty reason, "ERROR_" and the status code.
    QString StatusText() const;
};
