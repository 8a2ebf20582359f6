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
    };
    for (const Case& c : cases) {
        const int result = CompareTextIgnoreCase(c.a, c.b);
        EXPECT_EQ((result > 0) - (result < 0), c.sign)
            << c.a.toStdString() << " / " << c.b.toStdString();
        EXPECT_EQ(SameTextIgnoreCase(c.a, c.b), c.sign == 0);
        const int reverse = CompareTextIgnoreCase(c.b, c.a);
        EXPECT_EQ((reverse > 0) - (reverse < 0), -c.sign);
    }
}
