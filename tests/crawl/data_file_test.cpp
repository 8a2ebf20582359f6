#include "crawl/data_file.h"

#include "crawl/page_extraction.h"
#include "platform/tick_count.h"
#include "tests/crawl/fixture.h"
#include "tests/qt_print.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QByteArray HeaderBytes =
    "\xEF\xBB\xBF\"\xD0\xA1\xD1\x82\xD1\x80\xD0\xB0\xD0\xBD\xD0\xB0\";\"\xD0\x93\xD0\xBE\xD1\x80"
    "\xD0\xBE\xD0\xB4\";\"\xD0\xA3\xD1\x80\xD0\xBB "
    "\xD0\xB3\xD0\xBE\xD1\x80\xD0\xBE\xD0\xB4\xD0\xB0 "
    "(\xD0\xB8\xD0\xBB\xD0\xB8 \xD0\xBD\xD0\xB0\xD0\xB7\xD0\xB2\xD0\xB0\xD0\xBD\xD0\xB8\xD1\x8F "
    "\xD1\x80\xD0\xB5\xD0\xB3\xD0\xB8\xD0\xBE\xD0\xBD\xD0\xB0)\";\"\xD0\xA0\xD1\x83\xD0\xB1\xD1\x80"
    "\xD0\xB8\xD0\xBA\xD0\xB0\";\"\xD0\x9F\xD0\xBE\xD0\xB4\xD1\x80\xD1\x83\xD0\xB1\xD1\x80\xD0\xB8"
    "\xD0\xBA\xD0\xB0\";\"\xD0\xA3\xD1\x80\xD0\xBB \xD0\xBF\xD0\xBE\xD0\xB4\xD1\x80\xD1\x83\xD0\xB1"
    "\xD1\x80\xD0\xB8\xD0\xBA\xD0\xB8\";\"\xD0\x9D\xD0\xB0\xD0\xB7\xD0\xB2\xD0\xB0\xD0\xBD\xD0\xB8"
    "\xD0\xB5 \xD0\xBE\xD1\x80\xD0\xB3\xD0\xB0\xD0\xBD\xD0\xB8\xD0\xB7\xD0\xB0\xD1\x86\xD0\xB8\xD0"
    "\xB8\";\"\xD0\x90\xD0\xB4\xD1\x80\xD0\xB5\xD1\x81\";\"\xD0\xA2\xD0\xB5\xD0\xBB\xD0\xB5\xD1\x84"
    "\xD0\xBE\xD0\xBD\xD1\x8B\";\"\xD0\xA7\xD0\xB0\xD1\x81\xD1\x8B \xD1\x80\xD0\xB0\xD0\xB1\xD0\xBE"
    "\xD1\x82\xD1\x8B\";\"\xD0\xA1\xD0\xB0\xD0\xB9\xD1\x82\";\"\xD0\x9E\xD0\xBF\xD0\xB8\xD1\x81\xD0"
    "\xB0\xD0\xBD\xD0\xB8\xD0\xB5\";\"\xD0\xA3\xD1\x80\xD0\xBB \xD0\xBE\xD1\x80\xD0\xB3\xD0\xB0\xD0"
    "\xBD\xD0\xB8\xD0\xB7\xD0\xB0\xD1\x86\xD0\xB8\xD0\xB8\"\r\n";

QByteArray FileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// Fixes the tick count for one test and restores the clock afterwards.
class TickFixture : public testing::Test {
protected:
    void SetTicks(uint32_t ticks) {
        SetTickSourceForTests([ticks] { return ticks; });
    }
    void TearDown() override { SetTickSourceForTests({}); }
    QTemporaryDir Dir;
};

using DataFile = TickFixture;

} // namespace

// A quote left in any column would end its field early for a CSV reader.
TEST(DataFileRow, QuotesBecomeApostrophesInEveryColumn) {
    OrganisationRecord r;
    QStringList values;
    for (int i = 1; i <= 13; ++i)
        values.append(QString("\"%1\"").arg(i));
    r.Country = values[0], r.City = values[1], r.CityUrl = values[2], r.Rubric = values[3];
    r.Subrubric = values[4], r.SubrubricUrl = values[5], r.Name = values[6];
    r.Address = values[7], r.Phones = values[8], r.OpeningHours = values[9];
    r.Site = values[10], r.Description = values[11], r.CardUrl = values[12];
    EXPECT_EQ(DataFileRow(r), "\"'1'\";\"'2'\";\"'3'\";\"'4'\";\"'5'\";\"'6'\";\"'7'\";"
                              "\"'8'\";\"'9'\";\"'10'\";\"'11'\";\"'12'\";\"'13'\"");
    EXPECT_EQ(DataFileRow(OrganisationRecord{}), "\"\";\"\";\"\";\"\";\"\";\"\";\"\";\"\";\"\";"
                                                 "\"\";\"\";\"\";\"\"");
}

// A spreadsheet runs a value that begins like a formula; numbers and phones stay.
TEST(DataFileRow, FormulaStartsBecomeTextButNumbersStay) {
    struct Case {
        QString value, written;
    } cases[] = {
        {"=HYPERLINK(\"http://a.ru\",\"x\")", "'=HYPERLINK('http://a.ru','x')"},
        {"@SUM(A1:A9)", "'@SUM(A1:A9)"},
        {"-2+3+cmd|' /C calc'!A0", "'-2+3+cmd|' /C calc'!A0"},
        {"+ooo", "'+ooo"},
        {"\tTab", "'\tTab"},
        {"\rCR", "'\rCR"},
        {"+7 (3822) 10-20-30, 8-800-100-20-30", "+7 (3822) 10-20-30, 8-800-100-20-30"},
        {"-10", "-10"},
        {"-12.5/3", "-12.5/3"},
        {"a=b", "a=b"},
        {u"Ёлка @home"_qs, u"Ёлка @home"_qs},
    };
    for (const Case& c : cases) {
        OrganisationRecord r;
        r.Name = c.value;
        r.Description = c.value;
        EXPECT_EQ(DataFileRow(r).split(";").at(6), '"' + c.written + '"') << c.value.toStdString();
        EXPECT_EQ(DataFileRow(r).split(";").at(11), '"' + c.written + '"') << c.value.toStdString();
    }
}

TEST_F(DataFile, HoldsMarkHeaderAndRowsByteForByte) {
    ASSERT_TRUE(Dir.isValid());
    SetTicks(123456);
    TNameValueList cities;
    cities.Add("https://tomsk.quorvel.ru", u"Россия, Томск"_qs);
    const OrganisationRecord full = ExtractOrganisation(
        FixtureText("card_full.html"), "https://tomsk.quorvel.ru/org/2002-kafe-uyut", u"Кофейни"_qs,
        "https://tomsk.quorvel.ru/kafe/kofejni/", cities, {});
    const OrganisationRecord empty = ExtractOrganisation(
        FixtureText("card_empty.html"), "https://tomsk.quorvel.ru/org/9", "", "", cities, {});
    {
        TDataFile file;
        file.Open(Dir.path());
        EXPECT_EQ(file.FilePath(), QDir(Dir.path()).filePath("data123456.csv"));
        file.WriteRecord(full);
        // Each row is in the file as soon as it is written.
        EXPECT_TRUE(FileBytes(file.FilePath()).endsWith("2002-kafe-uyut\"\r\n"));
        file.WriteRecord(empty);
    }
    const QString expected =
        u"\"Россия\";\"Томск\";\"https://tomsk.quorvel.ru\";\"\";\"Кофейни\";"
        u"\"https://tomsk.quorvel.ru/kafe/kofejni/\";\"Кафе 'Уют', бар\";"
        u"\"Томск, проспект Ленина, 45, 2 этаж\";\"+7 (3822) 55-11-22,  +7 913 000-00-00\";"
        u"\"Пн-Пт 09:00-22:00\";\"https://кофе-томск.рф/menu?a=1;b=2\";"
        u"\" Уютное кафе &quot;в центре&quot;; <b>завтраки</b>\nвесь день и кофе. \";"
        u"\"https://tomsk.quorvel.ru/org/2002-kafe-uyut\"\r\n"
        u"\"Россия\";\"Томск\";\"https://tomsk.quorvel.ru\";\"\";\"\";\"\";\"\";\"\";\"\";\"\";"
        u"\"\";\"\";\"https://tomsk.quorvel.ru/org/9\"\r\n"_qs;
    EXPECT_EQ(FileBytes(QDir(Dir.path()).filePath("data123456.csv")),
              HeaderBytes + expected.toUtf8());
}

TEST_F(DataFile, RunWithoutCardsHoldsOnlyTheHeader) {
    ASSERT_TRUE(Dir.isValid());
    SetTicks(7);
    TDataFile file;
    file.Open(Dir.path());
    file.Close();
    EXPECT_EQ(FileBytes(file.FilePath()), HeaderBytes);
    EXPECT_EQ(DataFileHeader().toUtf8() + "\r\n", HeaderBytes.mid(3));
}

TEST_F(DataFile, NameFromTheTickCountSkipsTakenNames) {
    ASSERT_TRUE(Dir.isValid());
    struct Case {
        uint32_t ticks;
        QStringList existing;
        QString expected;
    } cases[] = {
        {42, {}, "data42.csv"},
        {0xFFFFFFFFu, {}, "data-1.csv"},
        {0x80000000u, {}, "data-2147483648.csv"},
        {500, {"data500.csv", "data501.csv"}, "data502.csv"},
        {0x7FFFFFFFu, {"data2147483647.csv"}, "data-2147483648.csv"},
    };
    for (const Case& c : cases) {
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        for (const QString& name : c.existing) {
            QFile earlier(dir.filePath(name));
            ASSERT_TRUE(earlier.open(QIODevice::WriteOnly));
            earlier.write("earlier run");
        }
        SetTicks(c.ticks);
        TDataFile file;
        file.Open(dir.path());
        EXPECT_EQ(file.FilePath(), dir.filePath(c.expected)) << c.ticks;
        for (const QString& name : c.existing)
            EXPECT_EQ(FileBytes(dir.filePath(name)), "earlier run") << name.toStdString();
    }
}

TEST_F(DataFile, UncreatableFileRaisesNamingPathAndReason) {
    ASSERT_TRUE(Dir.isValid());
    SetTicks(99);
    const QString missing = Dir.filePath("no/such/dir");
    TDataFile file;
    try {
        file.Open(missing);
        FAIL() << "no error for a directory that does not exist";
    } catch (const EDataFileError& e) {
        EXPECT_TRUE(e.Message().contains(QDir(missing).filePath("data99.csv")))
            << e.Message().toStdString();
        EXPECT_GT(e.Message().size(), QDir(missing).filePath("data99.csv").size() + 30);
    }
    EXPECT_FALSE(file.IsOpen());
    EXPECT_THROW(file.WriteRecord(OrganisationRecord{}), EDataFileError);
}
