#pragma once

#include <QDateTime>
#include <QString>

// A log line as every view shows it: the locale's short date, a blank, the
// locale's time with seconds and without a time zone, ": ", then the text.
QString FormatLogLine(const QString& text, const QDateTime& when = QDateTime::currentDateTime());
