#include "crawl/name_value_list.h"

void TNameValueList::Add(const QString& name, const QString& value) {
    FEntries.emplace(name, value);
}

QString TNameValueList::Lookup(const QString& name) const {
    const auto entry = FEntries.find(name);
    return entry == FEntries.end() ? QString() : entry->second;
}
