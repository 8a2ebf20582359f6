#include "crawl/work_lists.h"

#include "crawl/saved_run.h"
#include "tests/qt_print.h"
#include "tests/support/case_name.h"
#include "tests/support/test_files.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

namespace {

using TStep = std::function<void(TWorkLists&)>;

// The lists as one list of lines, so that a difference shows where it is.
QStringList Lines(const TSavedLists& lists) {
    QStringList lines;
    for (const QString& entry : lists.Work)
        lines.append("work " + entry);
    for (const QString& key : lists.Known)
        lines.append("known " + key);
    for (const TRubricEntry& rubric : lists.Rubrics)
        lines.append("rubric " + RubricLine(rubric));
    for (const QString& entry : lists.Failed)
        lines.append("failed " + entry);
    return lines;
}

// The known links and rubric names as a run loads them: sorted, each name once.
QStringList Loaded(const TSavedLists& lists) {
    TWorkLists loaded{TRunFiles(QString())};
    loaded.Resume({{}, lists.Known, lists.Rubrics, {}});
    return Lines({lists.Work, loaded.KnownList(), loaded.RubricList().Entries(), lists.Failed});
}

TStep Take() {
    return [](TWorkLists& lists) { lists.Take(); };
}
TStep Finish(int64_t job, const TRoutedLinks& links = {}, int64_t dataSize = -1) {
    return [=](TWorkLists& lists) { lists.Finish(job, links, dataSize); };
}
TStep Fail(int64_t job) {
    return [=](TWorkLists& lists) { lists.Fail(job); };
}

// A run resumed from `Saved` makes the steps (jobs are numbered from 1 in the
// order taken); the lists it would save are then `Expected`.
struct TWorkListsCase {
    const char* Name;
    TSavedLists Saved;
    QList<TStep> Steps;
    TSavedLists Expected;
};

const TWorkListsCase WorkListsCases[] = {
    {"TakenJobsGoBackInFrontInTheOrderTaken",
     {{"a", "b", "c"}, {"a"}, {}, {}},
     {Take(), Take()},
     {{"a", "b", "c"}, {"a"}, {}, {}}},
    // The card in flight first, then the page's other cards in page order, then its
    // new links; the subrubrics' rubric names are kept for the next run.
    {"ARoutedPageQueuesItsCardsFirstAndItsLinksLast",
     {{"cafe", "old"}, {"cafe", "old"}, {}, {}},
     {Take(),
      Finish(1, {{"coffee", "bars"}, {{"coffee", "Кафе"}, {"bars", "Кафе"}}, {"org/2", "org/3"}}),
      Take()},
     {{"org/2", "org/3", "old", "coffee", "bars"},
      {"bars", "cafe", "coffee", "old"},
      {{"bars", "Кафе"}, {"coffee", "Кафе"}},
      {}}},
    {"ACardRowFinishesItsJob",
     {{"org/1", "org/2"}, {}, {}, {}},
     {Take(), Take(), Finish(2, {}, 500)},
     {{"org/1"}, {}, {}, {}}},
    {"JobsEndInAnyOrder",
     {{"a", "b", "c"}, {}, {}, {}},
     {Take(), Take(), Fail(2), Take(), Finish(1, {{"l"}, {}, {"k"}})},
     {{"c", "k", "l"}, {"l"}, {}, {"b"}}},
    {"TheFirstRubricNameOfASubrubricWins",
     {{"a", "b"}, {}, {}, {}},
     {Take(), Finish(1, {{}, {{"s", "A"}}, {}}), Take(), Finish(2, {{}, {{"S", "B"}}, {}})},
     {{}, {}, {{"s", "A"}}, {}}},
    {"AFailedPageIsKeptOnceHoweverOftenItFails",
     {{"down", "up", "down"}, {}, {}, {}},
     {Take(), Fail(1), Take(), Take(), Fail(3)},
     {{"up"}, {}, {}, {"down"}}},
    // A page that failed in the last run is tried again after the rest, and only
    // once, also when the work list holds it already.
    {"FailedPagesOfTheLastRunComeLastAndOnce",
     {{"later", "down"}, {}, {}, {"down", "gone", "gone"}},
     {Take(), Fail(1)},
     {{"down", "gone"}, {}, {}, {"later"}}},
    {"KnownLinksLoadOnceInAnyCaseAndStaySorted",
     {{"coffee"}, {"CITY/BARS", "coffee", "Coffee"}, {}, {}},
     {Take(), Finish(1, {{"tea"}, {}, {}})},
     {{"tea"}, {"CITY/BARS", "coffee", "tea"}, {}, {}}},
};

void PrintTo(const TWorkListsCase& c, std::ostream* os) {
    *os << c.Name;
}

class WorkListsTable : public testing::TestWithParam<TWorkListsCase> {};

// After every step a crash is replayed: the lists read back with the journal must
// be the lists the run would have saved then. The saved lists replace the journal.
TEST_P(WorkListsTable, TheJournalGivesTheListsAfterEveryStep) {
    const TWorkListsCase& c = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const TRunFiles files(dir.path());
    WriteTestFile(files.Path("data1.csv"), QByteArray(1000, ';'));
    TWorkLists lists(files);
    lists.Resume(c.Saved);
    lists.Begin("data1.csv", 0);
    for (qsizetype i = 0; i < c.Steps.size(); ++i) {
        c.Steps[i](lists);
        EXPECT_EQ(Loaded(ReadSavedRun(files, true).Lists), Loaded(lists.Snapshot()))
            << "crash after step " << i + 1;
    }
    EXPECT_EQ(Lines(lists.Snapshot()), Lines(c.Expected));
    lists.Save();
    EXPECT_FALSE(QFile::exists(files.Journal()));
    EXPECT_EQ(Lines(ReadSavedRun(files, true).Lists), Lines(c.Expected));
}

INSTANTIATE_TEST_SUITE_P(Cases, WorkListsTable, testing::ValuesIn(WorkListsCases), CaseName);

} // namespace
