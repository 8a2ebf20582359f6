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

// A journal and the data file it cuts back, with a link planted at one of their
// names that points at the real file moved elsewhere: START refuses, names the
// file, and the data file keeps every byte.
struct TPlantedLinkCase {
    const char* Name;
    const char* LinkName;
    const char* Refusal;
};

class PlantedLinkAtStart : public testing::TestWithParam<TPlantedLinkCase> {};

TEST_P(PlantedLinkAtStart, IsRefusedAndTheDataFileKept) {
    const TPlantedLinkCase& c = GetParam();
    QTemporaryDir dir, elsewhere;
    const QByteArray lists = Bom + "a\r\n", data = QByteArray(10, 'h') + "row\r\nhalf a r";
    WriteTestFile(dir.filePath("lists.dat"), lists);
    WriteTestFile(dir.filePath("allknown.dat"), lists);
    WriteTestFile(dir.filePath("data7.csv"), data);
    {
        TRunJournal journal;
        journal.Begin(dir.filePath("journal.dat"),
                      {ListFilePrint(&lists), ListFilePrint(&lists), "-", "-"}, "data7.csv", 10);
    }
    const QString link = dir.filePath(c.LinkName);
    ASSERT_TRUE(QFile::rename(link, elsewhere.filePath("moved")));
    ASSERT_TRUE(QFile::link(elsewhere.filePath("moved"), link));
    try {
        PrepareStartFiles(dir.path(), [](const QString&) { return true; });
        ADD_FAILURE() << "a link followed";
    } catch (const Exception& refusal) {
        EXPECT_EQ(refusal.Message(),
                  c.Refusal + link + ": вместо файла стоит символическая ссылка; удалите её");
    }
    EXPECT_EQ(ReadTestFile(dir.filePath("data7.csv")), data);
}

INSTANTIATE_TEST_SUITE_P(
    Names, PlantedLinkAtStart,
    testing::Values(TPlantedLinkCase{"Journal", "journal.dat", "Не удалось прочитать файл "},
                    TPlantedLinkCase{"DataFileCutBack", "data7.csv", "Не удалось записать файл "}),
    CaseName);

QString UserName(uid_t uid) {
    const passwd* entry = ::getpwuid(uid);
    return entry ? QString::fromLocal8Bit(entry->pw_name) : QStringLiteral("uid %1").arg(uid);
}

// A lock that cannot be taken names whose it is and how to clear it. Giving the
// file to another user takes root.
TEST(LockRunDir, RefusalNamesWhoseLockItIsAndHowToClearIt) {
    QTemporaryDir dir;
    const TRunFiles files(dir.path());
    WriteTestFile(dir.filePath("lists.dat.tmp-a1B2c3D4e5F6"), "left by a crash");
    auto held = LockRunDir(files);
    EXPECT_FALSE(QFile::exists(dir.filePath("lists.dat.tmp-a1B2c3D4e5F6")));
    const auto refusal = [&] {
        try {
            LockRunDir(files);
        } catch (const ERunDirBusy& busy) {
            return busy.Message();
        }
        return QStringLiteral("<taken>");
    };
    EXPECT_EQ(refusal(),
              QStringLiteral("В каталоге %1 уже идёт работа: её ведёт процесс %2 (%3) пользователя "
                             "%4. Дождитесь её окончания или остановите её; если в каталоге никто "
                             "не работает, удалите файл %1/run.lock.")
                  .arg(dir.path())
                  .arg(::getpid())
                  .arg(program_invocation_short_name, UserName(::geteuid())));
    held.reset();
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to give the lock file to another user";
    ASSERT_EQ(::chown(QFile::encodeName(files.Lock()).constData(), 65534, 65534), 0);
    EXPECT_EQ(refusal(),
              QStringLiteral("В каталоге %1 нельзя начать работу: файл блокировки %1/run.lock "
                             "принадлежит другому пользователю (%2). Если в каталоге никто не "
                             "работает, удалите этот файл.")
                  .arg(dir.path(), UserName(65534)));
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
