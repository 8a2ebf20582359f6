#pragma once

#include <QString>

// What ended a failed attempt, kept as a value until the one place that logs it:
// whether the client's request failed, and with which number, or anything else did
// (a page cut short, a decoder), and the reason text.
struct TAttemptFailure {
    enum TKind { RequestFailure, OtherFailure };

    TKind Kind = OtherFailure;
    // The request's error number (fetch/http_errors.h), a socket error number or the
    // HTTP status; 0 for any other failure.
    int Number = 0;
    QString Reason;
    // The client's status code when the attempt failed: it stands in for an empty reason.
    int StatusCode = 0;

    // The failure being handled; only to be called inside a catch block.
    static TAttemptFailure Current(int statusCode);

    // Connection trouble, so the next attempt waits a moment: the reason, its ASCII
    // letters lower-cased, holds "socket", or the request was refused or timed out
    // for inactivity.
    bool NeedsPause() const;
    // "ERROR_" and the reason, or, for an empty reason, "ERROR_" and the status code.
    QString StatusText() const;
};
