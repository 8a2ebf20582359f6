#pragma once

#include "crawl/run_view.h"

#include <QList>
#include <QString>
#include <QStringList>

// The city list as cities.txt gives it and the selection matched against it.
// Pure functions, any thread.

// cities.txt lines -> items: label before the first "=", URL after it; a line
// without "=" gives an item with the whole line as label and HasUrl = false.
QList<TCityItem> ParseCityLines(const QStringList& lines);

// Indices of the items whose label equals one of `labels` ignoring case (every
// matching item, duplicates included), in list order.
QList<int> MatchSelection(const QList<TCityItem>& items, const QStringList& labels);

// True when a run can start from the item: its URL is a path of the site or
// begins with "https://" or "http://".
bool HasCrawlableUrl(const TCityItem& item);
