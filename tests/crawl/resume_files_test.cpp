#include "crawl/resume_files.h"

#include "crawl/run_journal.h"
#include "platform/text_file.h"
#include "tests/qt_print.h"
#include "tests/support/case_name.h"
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
    std::optional<QByteArray> Failed = std::nullopt;
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
        if (GetParam().Failed)
            Write("failed.dat", *GetParam().Failed);
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
                   {"cards.dat", "data1.csv"}},
        TStartCase{"FailedPagesAskEvenWithEmptyLists",
                   Bom,
                   std::nullopt,
                   false,
                   true,
                   {ListsQuestion(2)},
                   {"allknown.dat", "data1.csv", "failed.dat", "lists.dat"},
                   Bom + "f1\r\nf2\r\n"},
        TStartCase{"FailedPagesDiscardedOnYes",
                   Bom + "a\r\n",
                   std::nullopt,
                   true,
                   true,
                   {ListsQuestion(2)},
                   {"data1.csv"},
                   Bom + "f1\r\n"}),
    CaseName);

// A run that never saved its lists: the question counts what its journal leaves,
// and Yes cuts its data file back to the rows the journal vouches for.
TEST(PrepareStartFiles, JournalOfAnUnfinishedRunIsCountedAndItsDataFileCut) {
    QTemporaryDir dir;
    const QByteArray lists = Bom + "a\r\nb\r\n";
    WriteTestFile(dir.filePath("lists.dat"), lists);
    WriteTestFile(dir.filePath("allknown.dat"), lists);
    WriteTestFile(dir.filePath("data7.csv"), QByteArray(10, 'h') + "row\r\nhalf a r");
    {
        TRunJournal journal;
        journal.Begin(dir.filePath("journal.dat"),
                      {ListFilePrint(&lists), ListFilePrint(&lists), "-", "-"}, "data7.csv", 10);
        journal.Taken(1, "a");
        journal.Done(1, {}, 15);
    }
    QStringList asked;
    PrepareStartFiles(dir.path(), [&](const QString& question) {
        asked.append(question);
        return true;
    });
    EXPECT_EQ(asked, QStringList{ListsQuestion(1)});
    EXPECT_EQ(ReadTestFile(dir.filePath("data7.csv")), QByteArray(10, 'h') + "row\r\n");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"data7.csv"});
}

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
