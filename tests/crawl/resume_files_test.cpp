#include "crawl/resume_files.h"

#include "crawl/run_files.h"
#include "crawl/run_journal.h"
#include "crawl/run_lock.h"
#include "platform/file_lock.h"
#include "platform/text_file.h"
#include "tests/qt_print.h"
#include "tests/support/case_name.h"
#include "tests/support/test_files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>
#include <pwd.h>
#include <unistd.h>

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

// The journal decides how far START cuts the data file back: a link planted in
// its place is refused and named, and the data file keeps every byte.
TEST(PrepareStartFiles, JournalThatIsALinkIsRefused) {
    QTemporaryDir dir, elsewhere;
    const QByteArray lists = Bom + "a\r\n", data = "header\r\nrow\r\n";
    WriteTestFile(dir.filePath("lists.dat"), lists);
    WriteTestFile(dir.filePath("data7.csv"), data);
    TRunJournal().Begin(elsewhere.filePath("forged"), {ListFilePrint(&lists), "-", "-", "-"},
                        "data7.csv", 0);
    ASSERT_TRUE(QFile::link(elsewhere.filePath("forged"), dir.filePath("journal.dat")));
    try {
        PrepareStartFiles(dir.path(), [](const QString&) { return true; });
        ADD_FAILURE() << "the journal's link followed";
    } catch (const ETextFileError& refusal) {
        EXPECT_EQ(refusal.Message(), "Не удалось прочитать файл " + dir.filePath("journal.dat") +
                                         ": вместо файла стоит символическая ссылка; удалите её");
    }
    EXPECT_EQ(ReadTestFile(dir.filePath("data7.csv")), data);
}

// Another user's lock file is refused, named with its owner and how to clear it;
// a lock taken removes only the temporary names the lists' writes leave. Giving
// the file to another user takes root.
TEST(LockRunDir, AnotherUsersLockFileIsRefusedAndNamed) {
    QTemporaryDir dir;
    const TRunFiles files(dir.path());
    for (const char* name :
         {"lists.dat.tmp", "journal.dat.tmp-a1B2c3D4e5F6", "lists.dat.tmp-short"})
        WriteTestFile(dir.filePath(name), "left by a crash");
    LockRunDir(files);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files, QDir::Name),
              QStringList({"lists.dat.tmp-short", "run.lock"}));
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to give the lock file to another user";
    ASSERT_EQ(::chown(QFile::encodeName(files.Lock()).constData(), 65534, 65534), 0);
    const passwd* nobody = ::getpwuid(65534);
    try {
        LockRunDir(files);
        ADD_FAILURE() << "another user's lock file taken";
    } catch (const ERunDirBusy& busy) {
        EXPECT_EQ(busy.Message(),
                  QStringLiteral("В каталоге %1 нельзя начать работу: файл блокировки %2 "
                                 "принадлежит другому пользователю (%3). Если в каталоге никто не "
                                 "работает, удалите этот файл.")
                      .arg(dir.path(), files.Lock(),
                           nobody ? QString::fromLocal8Bit(nobody->pw_name) : "uid 65534"));
    }
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
