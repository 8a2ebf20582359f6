#include "platform/text_compare.h"

int CompareTextIgnoreCase(const QString& a, const QString& b) {
    return QString::compare(a, b, Qt::CaseInsensitive);
}

bool SameTextIgnoreCase(const QString& a, const QString& b) {
    return CompareTextIgnoreCase(a, b) == 0;
}
