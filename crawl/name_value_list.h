#pragma once

#include "platform/text_compare.h"

#include <QString>

#include <map>

// A name-value list of the controller (the city list: city URL to label; the
// rubric list: subrubric link key to rubric name). A lookup compares the whole
// name, ignoring letter case, so a name may itself hold "=" (a link with a query
// string); the first entry added under a name wins. Lookups take logarithmic
// time. Owned by one thread.
class TNameValueList {
public:
    // Adds the entry unless an entry of that name (in any letter case) exists.
    void Add(const QString& name, const QString& value);
    // The value of the entry named `name` ignoring letter case; empty when none is.
    QString Lookup(const QString& name) const;
    qsizetype Size() const { return static_cast<qsizetype>(FEntries.size()); }
    void Clear() { FEntries.clear(); }

private:
    std::map<QString, QString, TLessIgnoreCase> FEntries;
};
