#pragma once

#include "crawl/scraper.h"

#include <QString>

// Text that the headless front end writes to the terminal. Pure functions, any thread.

// The text with every C0 control character other than TAB, DEL, every C1 control
// character and the bidi embeddings, overrides and isolates shown as U+FFFD: page
// and file text then cannot move the cursor, ring the bell, send the terminal
// commands or turn the line around, and one log line stays one line. The saved log keeps the text as it was.
QString TerminalText(const QString& text);

// The closing line of a headless run, without its line end: pages fetched, failed,
// rows written, the run's time and the pages fetched per second.
QString RunSummary(const TRunTotals& totals, qint64 elapsedMs);
