#include "platform/log_line.h"

#include "platform/text_codec.h"

#include <QLocale>

namespace {

// The locale's long time format may carry a time zone ("t"); the log never shows one.
QString TimeWithoutZone(const QLocale& locale, const QTime& time) {
    QString format = locale.timeFormat(QLocale::LongFormat);
    format.remove(QLatin1Char('t'));
    return locale.toString(time, format.trimmed());
}

} // namespace

QString FormatLogLine(const QString& text, const QDateTime& when) {
    const QLocale locale;
    return locale.toString(when.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
           TimeWithoutZone(locale, when.time()) + QStringLiteral(": ") + text;
}

QString LogUrl(const QString& url) {
    if (url.size() <= MaxLogUrlLength)
        return url;
    return LeftWhole(url, MaxLogUrlLength) + QChar(0x2026);
}
