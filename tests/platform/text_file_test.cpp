#include "platform/text_file.h"

#include "tests/qt_print.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

TEST(DecodeTextFileBytes, ChoosesTheEncodingByTheMark) {
    struct Case {
        const char* name;
        QByteArray bytes;
        QString expected;
    } cases[] = {
        {"UTF-8 mark dropped", "\xEF\xBB\xBF\xD0\xA2\xD0\xBE", u"То"_qs},
        {"UTF-16 LE", QByteArray("\xFF\xFE\x22\x04\x3E\x04", 6), u"То"_qs},
        {"UTF-16 BE", QByteArray("\xFE\xFF\x04\x22\x04\x3E", 6), u"То"_qs},
        {"UTF-16 LE odd tail", QByteArray("\xFF\xFE\x41\x00\x42", 5), u"A\uFFFD"_qs},
        {"UTF-8 without mark", "\xD0\xA2\xD0\xBE", u"То"_qs},
        {"Windows-1251 without mark", "\xD2\xEE", u"То"_qs},
        {"mark only", "\xEF\xBB\xBF", ""},
        {"empty", "", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DecodeTextFileBytes(c.bytes), c.expected) << c.name;
}

TEST(SplitLines, EveryLineBreakStyle) {
    struct Case {
        QString text;
        QStringList expected;
    } cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a\r\n", {"a"}},
        {"a\r\nb\nc\rd", {"a", "b", "c", "d"}},
        {"a\n\nb", {"a", "", "b"}},
        {"a\r\r\n", {"a", ""}},
        {"\n", {""}},
        {"\r\n\r\n", {"", ""}},
        {"a\n\r", {"a", ""}},
        {"x\r\n\n", {"x", ""}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SplitLines(c.text), c.expected) << c.text.toStdString();
}

TEST(ReadTextFileLines, ReadsAFileAndNamesTheMissingOne) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("cities.txt");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(
        "\xEF\xBB\xBF\xD0\xA0\xD0\xBE\xD1\x81\xD1\x81\xD0\xB8\xD1\x8F, A=https://a\r\nB=/b\r\n");
    file.close();
    EXPECT_EQ(ReadTextFileLines(path), QStringList({u"Россия, A=https://a"_qs, "B=/b"}));

    const QString missing = dir.filePath("absent.txt");
    try {
        ReadTextFileLines(missing);
        FAIL() << "no error for a missing file";
    } catch (const ETextFileError& e) {
        EXPECT_TRUE(e.Message().contains(missing)) << e.Message().toStdString();
    }
}
