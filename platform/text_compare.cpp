#include "platform/text_compare.h"

int CompareTextIgnoreCase(QStringView a, QStringView b) {
    return a.compare(b, Qt::CaseInsensitive);
}

bool SameTextIgnoreCase(QStringView a, QStringView b) {
    return CompareTextIgnoreCase(a, b) == 0;
}
