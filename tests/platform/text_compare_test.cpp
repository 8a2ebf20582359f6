#include "platform/text_compare.h"

#include <gtest/gtest.h>

TEST(TextCompare, IgnoresLetterCaseOnly) {
    struct Case {
        QString a, b;
        int sign;
    } cases[] = {
        {"tomsk.quorvel.ru/Kafe", "TOMSK.quorvel.ru/kafe", 0},
        {u"Россия, Томск"_qs, u"РОССИЯ, томск"_qs, 0},
        {u"ёлка"_qs, u"ЁЛКА"_qs, 0},
        {"abc", "abd", -1},
        {"ABD", "abc", 1},
        {"ab", "abc", -1},
        {"", "", 0},
        {"a", "", 1},
        {"a b", "a  b", 1},
        {u"Ѐ-ЯЁЇІЄЃЌЎЉЊЋЂЅЈ"_qs, u"ѐ-яёїієѓќўљњћђѕј"_qs, 0},
        {u"\u212A"_qs, "k", 0},                  // Kelvin sign folds to k
        {u"ΣΑΣ"_qs, u"σας"_qs, 0},               // final sigma folds to sigma
        {u"\U00010400"_qs, u"\U00010428"_qs, 0}, // a pair folds as one code point
        {u"ß"_qs, "ss", 1},                      // a folding that would lengthen is not made
        {u"STRA\u1E9EE"_qs, u"straße"_qs, 0},    // capital sharp s folds to ß
        {u"\u0130"_qs, "i", 1},
    };
    for (const Case& c : cases) {
        const int result = CompareTextIgnoreCase(c.a, c.b);
        EXPECT_EQ((result > 0) - (result < 0), c.sign)
            << c.a.toStdString() << " / " << c.b.toStdString();
        EXPECT_EQ(SameTextIgnoreCase(c.a, c.b), c.sign == 0);
        EXPECT_EQ(FoldedKey(c.a) == FoldedKey(c.b), c.sign == 0) << c.a.toStdString();
        const int reverse = CompareTextIgnoreCase(c.b, c.a);
        EXPECT_EQ((reverse > 0) - (reverse < 0), -c.sign);
    }
}

// Every code point against its upper, lower, title and folded forms: the folded
// key finds the same pairs equal as the comparison does.
TEST(TextCompare, FoldedKeyAgreesWithTheComparisonOnEveryCodePoint) {
    int mismatches = 0;
    for (char32_t code = 0; code <= 0x10FFFF && mismatches < 5; ++code) {
        if (QChar::isSurrogate(code))
            continue;
        const QString text = QString::fromUcs4(&code, 1);
        for (char32_t other : {QChar::toUpper(code), QChar::toLower(code), QChar::toTitleCase(code),
                               QChar::toCaseFolded(code)}) {
            const QString variant = QString::fromUcs4(&other, 1);
            if (SameTextIgnoreCase(text, variant) != (FoldedKey(text) == FoldedKey(variant))) {
                ADD_FAILURE() << "U+" << std::hex << uint32_t(code) << " / U+" << uint32_t(other);
                ++mismatches;
            }
        }
    }
}
