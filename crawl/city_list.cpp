#include "crawl/city_list.h"

#include "crawl/text_utils.h"
#include "platform/log_line.h"
#include "platform/text_compare.h"

#include <algorithm>

namespace {

// The entry of one item, or the log line that says why it has none.
void AddStartEntry(TStartEntries& start, const TCityItem& item, const QString& siteBaseUrl) {
    if (!item.HasUrl) {
        start.LogLines.append(
            QStringLiteral("Город \"%1\" пропущен: в cities.txt у него нет ссылки")
                .arg(item.Label));
        return;
    }
    const QString url = item.Url.startsWith(QLatin1Char('/')) ? siteBaseUrl + item.Url : item.Url;
    if (!HasWebScheme(url)) {
        start.LogLines.append(QStringLiteral("Город \"%1\" пропущен: ссылка \"%2\" не начинается с "
                                             "\"/\", \"https://\" или \"http://\"")
                                  .arg(item.Label, LogUrl(item.Url)));
        return;
    }
    start.Entries.append(StripScheme(url));
}

QString NothingToCrawl(bool citySelected, qsizetype cityCount, const QString& citiesPath) {
    if (cityCount == 0)
        return QStringLiteral("В файле %1 нет ни одного города; добавьте строки вида "
                              "\"Страна, Город=https://адрес\"")
            .arg(citiesPath);
    if (!citySelected)
        return QStringLiteral("Не выбран ни один город, обходить нечего");
    return QStringLiteral("Ни один из выбранных городов не может быть обойдён");
}

} // namespace

QList<TCityItem> ParseCityLines(const QStringList& lines) {
    QList<TCityItem> items;
    items.reserve(lines.size());
    for (const QString& line : lines) {
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals < 0)
            items.append({line, QString(), false});
        else
            items.append({line.left(equals), line.mid(equals + 1), true});
    }
    return items;
}

// The labels are sorted once and searched by halves, so tens of thousands of saved
// labels against as many items take moments instead of comparing every pair.
QList<int> MatchSelection(const QList<TCityItem>& items, const QStringList& labels) {
    QStringList sorted = labels;
    std::sort(sorted.begin(), sorted.end(), TLessIgnoreCase());
    QList<int> selected;
    for (int i = 0; i < items.size(); ++i) {
        if (std::binary_search(sorted.begin(), sorted.end(), items[i].Label, TLessIgnoreCase()))
            selected.append(i);
    }
    return selected;
}

bool HasCrawlableUrl(const TCityItem& item) {
    return item.HasUrl && (item.Url.startsWith(QLatin1Char('/')) || HasWebScheme(item.Url));
}

void AddCityListEntry(TNameValueList& cityList, const QString& line) {
    const qsizetype equals = line.indexOf(QLatin1Char('='));
    if (equals < 0) {
        cityList.Add(line.left(100), QString());
        return;
    }
    QString url = line.mid(equals + 1);
    if (HasWebScheme(url))
        url = AddScheme(StripScheme(url));
    cityList.Add(url.left(100), line.left(equals));
}

TStartEntries StartEntriesOf(const QList<TCityItem>& selected, const QString& siteBaseUrl,
                             qsizetype cityCount, const QString& citiesPath) {
    TStartEntries start;
    for (const TCityItem& item : selected)
        AddStartEntry(start, item, siteBaseUrl);
    if (start.Entries.isEmpty())
        start.LogLines.append(NothingToCrawl(!selected.isEmpty(), cityCount, citiesPath));
    return start;
}
