#include "fetch/attempt_failure.h"

#include "fetch/http_cli.h"
#include "fetch/socket_error.h"

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

TAttemptFailure TAttemptFailure::Current(int statusCode) {
    try {
        throw;
    } catch (const EHttpException& failure) {
        return {RequestFailure, failure.ErrorCode(), failure.Message(), statusCode};
    } catch (...) {
        return {OtherFailure, 0, CurrentExceptionMessage(), statusCode};
    }
}

bool TAttemptFailure::NeedsPause() const {
    if (AsciiLower(Reason).contains(QLatin1String("socket")))
        return true;
    return Kind == RequestFailure && (Number == WsaConnectionRefused || Number == HttpTimeoutError);
}

QString TAttemptFailure::StatusText() const {
    return QStringLiteral("ERROR_") + (Reason.isEmpty() ? QString::number(StatusCode) : Reason);
}
