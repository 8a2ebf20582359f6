#pragma once

#include <QDateTime>
#include <QString>

// A log line as every view shows it: the locale's short date, a blank, the
// locale's time with seconds and without a time zone, ": ", then the text.
QString FormatLogLine(const QString& text, const QDateTime& when = QDateTime::currentDateTime());

// The longest URL a log line shows whole, in UTF-16 code units: a page address
// can be as long as its server accepts, and one log line per failed attempt
// repeats it.
constexpr qsizetype MaxLogUrlLength = 2048;

// A URL as log lines show it: a longer one is cut to MaxLogUrlLength on a
// character boundary and ends with "…", so the reader sees that it goes on.
QString LogUrl(const QString& url);
