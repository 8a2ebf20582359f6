#include "app/terminal_text.h"

#include "tests/qt_print.h"

#include <gtest/gtest.h>

TEST(TerminalText, ControlCharactersOtherThanTabAndBidiControlsBecomeReplacements) {
    const QString r(QChar(QChar::ReplacementCharacter));
    struct Case {
        QString text, shown;
    } cases[] = {
        {"plain: https://a.ru/ok", "plain: https://a.ru/ok"},
        {"\x1b[31mred\x1b[0m", r + "[31mred" + r + "[0m"},
        {QString("a") + QChar(0) + "b\x07" + "c", "a" + r + "b" + r + "c"},
        {"line\r\nbreak\x0b\x0c", "line" + r + r + "break" + r + r},
        {"tab\tstays", "tab\tstays"},
        {"del\x7f", "del" + r},
        {"\x1f\x20", r + " "},
        {u"\u0080\u009b2J\u009f\u00a0Томск"_qs, r + r + "2J" + r + u"\u00a0Томск"_qs},
        {u"a\u202eb\u2066c\u2069\u200fd"_qs, "a" + r + "b" + r + "c" + r + u"\u200fd"_qs},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TerminalText(c.text), c.shown) << c.text.toStdString();
}

TEST(RunSummary, CountsTimeAndRate) {
    struct Case {
        TRunTotals totals;
        qint64 ms;
        QString summary;
    } cases[] = {
        {{27, 1, 15}, 200, "27 pages fetched, 1 failed, 15 rows written in 0.2 s (135.0 pages/s)"},
        {{0, 0, 0}, 0, "0 pages fetched, 0 failed, 0 rows written in 0.0 s (0.0 pages/s)"},
        {{3, 0, 2}, 59999, "3 pages fetched, 0 failed, 2 rows written in 60.0 s (0.1 pages/s)"},
        {{120, 2, 100},
         60000,
         "120 pages fetched, 2 failed, 100 rows written in 1 min 00 s (2.0 pages/s)"},
        {{7200, 0, 0},
         3723000,
         "7200 pages fetched, 0 failed, 0 rows written in 1 h 02 min 03 s (1.9 pages/s)"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(RunSummary(c.totals, c.ms), c.summary);
}
