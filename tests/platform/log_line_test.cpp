#include "platform/log_line.h"

#include <QLocale>

#include "tests/qt_print.h"

#include <gtest/gtest.h>

TEST(LogLine, PrefixIsShortDateBlankTimeWithSecondsColonSpace) {
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    const QDateTime when(QDate(2026, 3, 7), QTime(9, 5, 4));
    EXPECT_EQ(FormatLogLine(QStringLiteral("Начинаем работу..."), when),
              QStringLiteral("07.03.2026 09:05:04: Начинаем работу..."));
    QLocale::setDefault(QLocale::system());
}

TEST(LogLine, LongUrlIsCutOnACharacterBoundary) {
    const QString base = "https://h.ru/";
    const QString upTo2047 = base + QString(MaxLogUrlLength - 1 - base.size(), u'a');
    const QString pair = u"\U0001F600"_qs;
    struct Case {
        const char* name;
        QString url, shown;
    } cases[] = {
        {"short", base, base},
        {"exactly the limit", upTo2047 + "b", upTo2047 + "b"},
        {"one over the limit", upTo2047 + "bc", upTo2047 + u"b…"_qs},
        {"a pair across the limit left whole", upTo2047 + pair, upTo2047 + u"…"_qs},
    };
    for (const Case& c : cases)
        EXPECT_EQ(LogUrl(c.url), c.shown) << c.name;
}
