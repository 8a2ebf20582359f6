#pragma once

#include "crawl/name_value_list.h"
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

// Adds the city list entry of a cities.txt line "label=URL": the URL, cut to 100
// characters, names the label. A city given as "http://" is fetched over HTTPS, so
// its cards carry "https://" and the entry is named that way to be found by them.
void AddCityListEntry(TNameValueList& cityList, const QString& line);

// The work entries a run starts from for the selected items, in list order: each
// URL without its web scheme, a path getting `siteBaseUrl` in front. An item
// without a URL, or whose URL is neither a path nor "https://" or "http://", gets
// a log line that names it instead: the other cities need not suffer for one bad
// line. When no entry is left, a last log line says why (`citiesPath` names
// cities.txt, which gave `cityCount` entries to the city list).
struct TStartEntries {
    QStringList Entries;
    QStringList LogLines;
};
TStartEntries StartEntriesOf(const QList<TCityItem>& selected, const QString& siteBaseUrl,
                             qsizetype cityCount, const QString& citiesPath);
