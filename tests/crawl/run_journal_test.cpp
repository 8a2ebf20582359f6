#include "crawl/run_journal.h"

#include "tests/qt_print.h"
#include "tests/support/case_name.h"
#include "tests/support/test_files.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

namespace {

const TListPrints Prints{"lists", "known", "rubrics", "failed"};
constexpr int64_t DataStart = 100;

// A journal written by the real writer, then changed as a crash or a later save
// would, replayed over the lists [a, b, c].
struct TReplayCase {
    const char* Name;
    std::function<void(TRunJournal&)> Write;
    int CutBytes = 0;             // lost from the end, as by a crash in the middle of a write
    TListPrints Current = Prints; // the files' fingerprints at the replay
    int64_t DataFileSize = 1000;
    QStringList Work = {}, Known = {};
    QList<TRubricEntry> Rubrics = {};
    QStringList Failed = {};
    int64_t WholeRows = DataStart;
};

void PrintTo(const TReplayCase& c, std::ostream* os) {
    *os << c.Name;
}

const QStringList Abc = {"a", "b", "c"};

class JournalReplay : public testing::TestWithParam<TReplayCase> {};

TEST_P(JournalReplay, GivesTheListsTheRunHadWithUnfinishedJobsBackInFront) {
    const TReplayCase& c = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("journal.dat");
    {
        TRunJournal journal;
        journal.Begin(path, Prints, "data-5.csv", DataStart);
        c.Write(journal);
    }
    const QByteArray bytes = ReadTestFile(path);
    TSavedLists lists{Abc, Abc, {}, {}};
    const TJournalDataFile data = ReplayJournal(
        bytes.left(bytes.size() - c.CutBytes), c.Current,
        [&](const QString& name) { return name == "data-5.csv" ? c.DataFileSize : -1; }, lists);
    EXPECT_EQ(lists.Work, c.Work);
    EXPECT_EQ(lists.Known, c.Known);
    EXPECT_EQ(lists.Rubrics, c.Rubrics);
    EXPECT_EQ(lists.Failed, c.Failed);
    EXPECT_EQ(data.Name, "data-5.csv");
    EXPECT_EQ(data.WholeRows, c.WholeRows);
}

const TRoutedLinks Found{{"d?x=y", "e"}, {{"d?x=y", "Rubric = R"}}, {"k1", "k2"}};
const QStringList AbcFound = {"a", "b", "c", "d?x=y", "e"};
const QString Mark(QChar(0xFEFF)); // a string literal would lose it as a byte-order mark

const TReplayCase ReplayCases[] = {
    {"TakenJobsGoBackInTakenOrder",
     [](TRunJournal& j) {
         j.Taken(1, "a");
         j.Taken(2, "b");
     },
     0, Prints, 1000, Abc, Abc},
    {"DoneJobAddsLinksRubricsAndCardsInFront",
     [](TRunJournal& j) {
         j.Taken(1, "a");
         j.Taken(2, "b");
         j.Done(2, Found, -1);
     },
     0,
     Prints,
     1000,
     {"a", "k1", "k2", "c", "d?x=y", "e"},
     AbcFound,
     {{"d?x=y", "Rubric = R"}}},
    {"FailedJobGoesToTheFailedList",
     [](TRunJournal& j) {
         j.Taken(1, "a");
         j.Failed(1);
         j.Taken(2, "b");
     },
     0,
     Prints,
     1000,
     {"b", "c"},
     Abc,
     {},
     {"a"}},
    {"RowsAreVouchedUpToTheLastCard",
     [](TRunJournal& j) {
         j.Taken(1, "a");
         j.Done(1, {}, 150);
         j.Taken(2, "b");
         j.Done(2, {}, 300);
     },
     0,
     Prints,
     1000,
     {"c"},
     Abc,
     {},
     {},
     300},
    {"ARowTheDataFileLostIsFetchedAgain",
     [](TRunJournal& j) {
         j.Taken(1, "a");
         j.Done(1, {}, 150);
         j.Taken(2, "b");
         j.Done(2, {}, 300);
         j.Taken(3, "c");
         j.Failed(3);
     },
     0,
     Prints,
     250,
     {"b", "c"},
     Abc,
     {},
     {},
     150},
    {"AGroupCutOffByACrashCountsForNothing",
     [](TRunJournal& j) {
         j.Taken(1, "a");
         j.Done(1, Found, -1);
     },
     3, Prints, 1000, Abc, Abc},
    {"ListsSavedAgainSinceAreTakenAsTheyAre",
     [](TRunJournal& j) {
         j.Taken(1, "a");
         j.Done(1, Found, -1);
     },
     0, TListPrints{"new", "known", "new", "failed"}, 1000, Abc, AbcFound},
    {"AJournalOfAnotherWorkListStopsAtOnce",
     [](TRunJournal& j) {
         j.Taken(1, "b");
         j.Done(1, Found, -1);
     },
     0, Prints, 1000, Abc, Abc},
    {"LineBreaksInEntriesSurvive",
     [](TRunJournal& j) {
         j.Taken(1, "a");
         j.Done(1, {{"x\ny\\n"}, {}, {"k\r"}}, -1);
     },
     0,
     Prints,
     1000,
     {"k\r", "b", "c", "x\ny\\n"},
     {"a", "b", "c", "x\ny\\n"}},
    // A U+FEFF that starts an entry is text, not a byte-order mark to drop.
    {"AMarkAtTheStartOfAnEntrySurvives",
     [](TRunJournal& j) {
         j.Taken(1, "a");
         j.Done(1, {{Mark + "x"}, {{Mark + "x", Mark + "R"}}, {Mark + "k"}}, -1);
         j.Taken(2, Mark + "k");
     },
     0,
     Prints,
     1000,
     {Mark + "k", "b", "c", Mark + "x"},
     {"a", "b", "c", Mark + "x"},
     {{Mark + "x", Mark + "R"}}},
};

INSTANTIATE_TEST_SUITE_P(Cases, JournalReplay, testing::ValuesIn(ReplayCases), CaseName);

TEST(JournalReplay, BytesWithoutAHeaderChangeNothing) {
    TSavedLists lists{Abc, Abc, {}, {}};
    const TJournalDataFile data = ReplayJournal(
        "T\t1\ta\n", Prints, [](const QString&) { return 0; }, lists);
    EXPECT_EQ(lists.Work, Abc);
    EXPECT_TRUE(data.Name.isEmpty());
}

} // namespace
