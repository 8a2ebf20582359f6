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
