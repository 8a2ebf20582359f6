#include "crawl/skip_list.h"

#include "crawl/text_utils.h"
#include "platform/text_compare.h"
#include "platform/text_file.h"

#include <QFile>

#include <algorithm>

void TSkipList::Load(const QString& path) {
    if (!QFile::exists(path))
        return;
    FLinks.reserve(1000);
    for (const QString& line : ReadTextFileLines(path))
        FLinks.append(Trim(line));
    std::sort(FLinks.begin(), FLinks.end(), TLessIgnoreCase());
}

bool TSkipList::Contains(const QString& key) const {
    return !FLinks.isEmpty() &&
           (std::binary_search(FLinks.begin(), FLinks.end(), key, TLessIgnoreCase()) ||
            std::binary_search(FLinks.begin(), FLinks.end(), AddScheme(key), TLessIgnoreCase()));
}
