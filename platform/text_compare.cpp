#include "platform/text_compare.h"

int CompareTextIgnoreCase(QStringView a, QStringView b) {
    return a.compare(b, Qt::CaseInsensitive);
}

bool SameTextIgnoreCase(QStringView a, QStringView b) {
    return CompareTextIgnoreCase(a, b) == 0;
}

// The comparison folds each code unit on its own with the simple folding of its
// code point; full foldings that would lengthen the text (ß to "ss") are not made.
std::u32string FoldedKey(QStringView text) {
    std::u32string key(size_t(text.size()), U'\0');
    char16_t last = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i].unicode();
        char32_t code = unit;
        if (QChar::isLowSurrogate(unit) && QChar::isHighSurrogate(last))
            code = QChar::surrogateToUcs4(last, unit);
        last = unit;
        key[size_t(i)] = QChar::toCaseFolded(code);
    }
    return key;
}
