#include "crawl/city_list.h"

#include "platform/text_compare.h"

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

QList<int> MatchSelection(const QList<TCityItem>& items, const QStringList& labels) {
    QList<int> selected;
    for (int i = 0; i < items.size(); ++i) {
        for (const QString& label : labels) {
            if (SameTextIgnoreCase(items[i].Label, label)) {
                selected.append(i);
                break;
            }
        }
    }
    return selected;
}
