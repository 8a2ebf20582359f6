#include "fetch/attempt_failure.h"

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

bool FailureNeedsPause(const QString& message, const QString& reasonPhrase) {
    const QString lower = AsciiLower(message);
    return lower.contains(QLatin1String("socket")) || lower.contains(QLatin1String("#10061")) ||
           reasonPhrase == QLatin1String("Request aborted on timeout");
}

QString FailureStatusText(const QString& message, int statusCode) {
    return QStringLiteral("ERROR_") + (message.isEmpty() ? QString::number(statusCode) : message);
}
