#include "crawl/resume_files.h"

#include "platform/text_file.h"
#include "tests/qt_print.h"
#include "tests/support/test_files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>

namespace {

TEST(ResumeQuestions, ExactTexts) {
    EXPECT_EQ(ListsQuestion(12), "От прошлого запуска осталось 12 ссылок на списки карточек. "
                                 "Удалить их и начать с начала?");
    EXPECT_EQ(CardsQuestion(1), "От прошлого запуска осталось 1 ссылок на карточки. "
                                "Удалить их и начать с начала?");
}

// File contents by name; std::nullopt = no such file.
struct TStartCase {
    const char* Name;
    std::optional<QByteArray> Lists;
    std::optional<QByteArray> Cards;
    bool ListsAnswer;
    bool CardsAnswer;
    QStringList ExpectedQuestions;
    QStringList ExpectedRemaining; // sorted file names left in the directory
};

class PrepareStartFilesTest : public testing::TestWithParam<TStartCase> {
protected:
    void Write(const QString& name, const QByteArray& bytes) {
        WriteTestFile(Dir.filePath(name), bytes);
    }
    void SetUp() override {
        ASSERT_TRUE(Dir.isValid());
        if (GetParam().Lists) {
            Write("lists.dat", *GetParam().Lists);
            Write("allknown.dat", "\xEF\xBB\xBF"
                                  "a\r\n");
        }
        if (GetParam().Cards)
            Write("cards.dat", *GetParam().Cards);
        Write("data1.csv", "kept");
    }
    QTemporaryDir Dir;
};

TEST_P(PrepareStartFilesTest, AsksOnlyAboutFilesWithLinesAndDeletesOnYes) {
    const TStartCase& c = GetParam();
    const bool needed = StartNeedsQuestions(Dir.path());
    QStringList asked;
    PrepareStartFiles(Dir.path(), [&](const QString& question) {
        asked.append(question);
        return question.contains(QStringLiteral("списки")) ? c.ListsAnswer : c.CardsAnswer;
    });
    EXPECT_EQ(asked, c.ExpectedQuestions);
    EXPECT_EQ(needed, !c.ExpectedQuestions.isEmpty());
    EXPECT_EQ(QDir(Dir.path()).entryList(QDir::Files, QDir::Name), c.ExpectedRemaining);
}

const QByteArray Bom = "\xEF\xBB\xBF";

INSTANTIATE_TEST_SUITE_P(
    Files, PrepareStartFilesTest,
    testing::Values(
        TStartCase{"NothingSaved", std::nullopt, std::nullopt, true, true, {}, {"data1.csv"}},
        TStartCase{
            "EmptyListsDeletedWithoutAsking", Bom, std::nullopt, false, false, {}, {"data1.csv"}},
        TStartCase{
            "ZeroByteCardsDeletedWithoutAsking", std::nullopt, "", false, false, {}, {"data1.csv"}},
        TStartCase{"ListsYes",
                   Bom + "a\r\nb\r\nc\r\n",
                   std::nullopt,
                   true,
                   true,
                   {ListsQuestion(3)},
                   {"data1.csv"}},
        TStartCase{"ListsNoKeepsBoth",
                   Bom + "a\r\nb",
                   std::nullopt,
                   false,
                   true,
                   {ListsQuestion(2)},
                   {"allknown.dat", "data1.csv", "lists.dat"}},
        TStartCase{"BothAskedIndependently",
                   "x\ny\n",
                   "c1\rc2\rc3\rc4",
                   false,
                   true,
                   {ListsQuestion(2), CardsQuestion(4)},
                   {"allknown.dat", "data1.csv", "lists.dat"}},
        TStartCase{"CardsNoKept",
                   Bom,
                   "c\r\n",
                   true,
                   false,
                   {CardsQuestion(1)},
                   {"cards.dat", "data1.csv"}}),
    [](const testing::TestParamInfo<TStartCase>& info) { return info.param.Name; });

TEST(PrepareStartFiles, UnreadableListsRaisesAndDeletesNothing) {
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkdir("lists.dat")); // exists, but is no readable file
    QFile cards(dir.filePath("cards.dat"));
    ASSERT_TRUE(cards.open(QIODevice::WriteOnly));
    cards.close();
    EXPECT_THROW(PrepareStartFiles(dir.path(), [](const QString&) { return true; }),
                 ETextFileError);
    EXPECT_TRUE(QFile::exists(dir.filePath("cards.dat")));
    EXPECT_THROW(StartNeedsQuestions(dir.path()), ETextFileError);
}

} // namespace
