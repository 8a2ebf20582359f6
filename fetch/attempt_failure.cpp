#include "fetch/attempt_failure.h"

#include "fetch/http_cli.h"
#include "platform/exception.h"

namespace {

// Only A-Z change: a non-ASCII letter whose lower case happens to be ASCII (the
// Kelvin sign) must not make a "socket".
QString AsciiLower(QString text) {
    for (QChar& c : text)
        if (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
            c = QChar(c.unicode() + ('a' - 'A'));
    return text;
}

} // namespace

// The "no status code" failure comes from a close before the response was whole;
// header lines that came with it show that the status line had come whole. (They
// come too when a whole header began with no HTTP/1.x status line: a response the
// client cannot use either, so it is waited for likewise.)
TAttemptFailure TAttemptFailure::Current(const THttpCli& client) {
    const QString reason = CurrentExceptionMessage();
    const bool headerCut =
        reason == QLatin1String(HttpNoStatusReason) && !client.RcvdHeader().isEmpty();
    return {reason, client.StatusCode(), client.ReasonPhrase(), headerCut};
}

bool TAttemptFailure::NeedsPause() const {
    const QString reason = AsciiLower(Reason);
    return reason.contains(QLatin1String("socket")) || reason.contains(QLatin1String("#10061")) ||
           ClientReason == QLatin1String(HttpTimeoutReason) || HeaderCut;
}

QString TAttemptFailure::StatusText() const {
    return QStringLiteral("ERROR_") + (Reason.isEmpty() ? QString::number(StatusCode) : Reason);
}
