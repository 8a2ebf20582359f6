#include "app/terminal_text.h"

#include <QtGlobal>

namespace {

// C1 codes count too: a terminal may take a lone 0x9B as the start of a command.
// The bidi embeddings, overrides and isolates would reorder the rest of the line.
bool ShownAsReplacement(QChar c) {
    const char16_t code = c.unicode();
    const bool c0 = code < 0x20 && code != u'\t';
    const bool c1 = code >= 0x7F && code <= 0x9F;
    const bool bidi = (code >= 0x202A && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069);
    return c0 || c1 || bidi;
}

// Seconds with a tenth below a minute, then minutes and seconds, then hours too.
QString RunTime(qint64 elapsedMs) {
    if (elapsedMs < 60000)
        return QStringLiteral("%1 s").arg(double(elapsedMs) / 1000, 0, 'f', 1);
    const qint64 seconds = elapsedMs / 1000;
    const auto twoDigits = [](qint64 n) { return QStringLiteral("%1").arg(n, 2, 10, QChar(u'0')); };
    if (seconds < 3600)
        return QStringLiteral("%1 min %2 s").arg(seconds / 60).arg(twoDigits(seconds % 60));
    return QStringLiteral("%1 h %2 min %3 s")
        .arg(seconds / 3600)
        .arg(twoDigits(seconds / 60 % 60), twoDigits(seconds % 60));
}

} // namespace

QString TerminalText(const QString& text) {
    QString shown = text;
    for (QChar& c : shown) {
        if (ShownAsReplacement(c))
            c = QChar(QChar::ReplacementCharacter);
    }
    return shown;
}

QString RunSummary(const TRunTotals& totals, qint64 elapsedMs) {
    const double perSecond = totals.PagesFetched * 1000.0 / double(qMax<qint64>(elapsedMs, 1));
    return QStringLiteral("%1 pages fetched, %2 failed, %3 rows written in %4 (%5 pages/s)")
        .arg(totals.PagesFetched)
        .arg(totals.PagesFailed)
        .arg(totals.RowsWritten)
        .arg(RunTime(elapsedMs))
        .arg(perSecond, 0, 'f', 1);
}
