// What a run does with its lists at its start and end, at the size of a large run:
// 1,000,000 work-list entries (card job lines) and 100,000 known links. At the
// start it reads the saved lists (replaying a journal over them), then saves them
// again and begins a new journal; at the end it saves them. Saving is atomic
// (write, sync, rename), so these figures include the syncs of a real disk.
// Beside them, the routing of one page's links against a known list of that size,
// with the page's own de-duplication done pairwise, as it once was, as the peer.
#include "crawl/page_routing.h"
#include "crawl/run_files.h"
#include "crawl/run_journal.h"
#include "crawl/saved_run.h"
#include "platform/text_compare.h"

#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>

namespace {

constexpr int WorkEntries = 1000000;
constexpr int KnownLinks = 100000;
constexpr int Rubrics = 2000;
// Jobs a crashed run had recorded in its journal before it stopped.
constexpr int JournalJobs = 10000;

const QString Host = QStringLiteral("quorvel.ru/novosibirsk");

TSavedLists LargeLists() {
    TSavedLists lists;
    lists.Work.reserve(WorkEntries);
    for (int i = 0; i < WorkEntries; ++i)
        lists.Work.append(QStringLiteral("%1/firm/%2/|||Шины и диски %3|||https://%1/r%3/s%4/")
                              .arg(Host)
                              .arg(1000000 + i)
                              .arg(i % 25)
                              .arg(i % 100));
    lists.Known.reserve(KnownLinks);
    for (int i = 0; i < KnownLinks; ++i)
        lists.Known.append(
            QStringLiteral("%1/r%2/s%3/page-%4/").arg(Host).arg(i % 25).arg(i % 100).arg(i));
    for (int i = 0; i < Rubrics; ++i)
        lists.Rubrics.append({QStringLiteral("%1/r%2/s%3/").arg(Host).arg(i % 25).arg(i),
                              QStringLiteral("Автомобили %1").arg(i)});
    lists.Failed = lists.Work.mid(0, 100);
    return lists;
}

// Saved lists and a journal of a run that stopped without saving them again (a
// journal names the run's data file; replaying it checks the rows against it).
void WriteCrashedRun(const TRunFiles& files, const TSavedLists& lists) {
    const TListPrints prints = SaveRunLists(files, lists);
    TRunJournal journal;
    QFile data(files.Path(QStringLiteral("data1.csv")));
    data.open(QIODevice::WriteOnly);
    data.close();
    journal.Begin(files.Journal(), prints, QStringLiteral("data1.csv"), 0);
    for (int job = 0; job < JournalJobs; ++job) {
        journal.Taken(job, lists.Work[job]);
        journal.Done(job, {}, -1);
    }
    journal.Close();
}

void BM_RunStart(benchmark::State& state) {
    QTemporaryDir dir;
    const TRunFiles files(dir.path());
    const TSavedLists lists = LargeLists();
    WriteCrashedRun(files, lists);
    for (auto _ : state) {
        const TSavedRun saved = ReadSavedRun(files, true);
        const TListPrints prints = SaveRunLists(files, saved.Lists);
        TRunJournal journal;
        journal.Begin(files.Journal(), prints, QString(), 0);
        journal.Close();
        state.PauseTiming();
        if (saved.Lists.Work.size() != WorkEntries - JournalJobs)
            state.SkipWithError("the journal was not replayed");
        WriteCrashedRun(files, lists); // the next round starts from a crash again
        state.ResumeTiming();
    }
}

// The reading alone: files to lists, with the journal replayed.
void BM_ReadSavedRun(benchmark::State& state) {
    QTemporaryDir dir;
    const TRunFiles files(dir.path());
    WriteCrashedRun(files, LargeLists());
    for (auto _ : state)
        benchmark::DoNotOptimize(ReadSavedRun(files, true));
}

void BM_RunEnd(benchmark::State& state) {
    QTemporaryDir dir;
    const TRunFiles files(dir.path());
    const TSavedLists lists = LargeLists();
    for (auto _ : state)
        benchmark::DoNotOptimize(SaveRunLists(files, lists));
}

// A list page of `count` distinct subrubric links, Cyrillic and of mixed letter
// case, every tenth given twice more in other cases; none of them known yet.
TListPageLinks PageOfLinks(int count) {
    TListPageLinks found;
    found.Breadcrumb = QStringLiteral("Автомобили");
    for (int i = 0; i < count; ++i) {
        const QString key =
            QStringLiteral("%1/Рубрика-%2/Подрубрика-%3/").arg(Host).arg(i % 25).arg(i);
        found.SubrubricLinks.append(key);
        if (i % 10 == 0)
            found.SubrubricLinks.append({key.toUpper(), key.toLower()});
    }
    return found;
}

TRunLinkLists KnownLargeRun(const QStringList& known) {
    return {[&known](const QString& key) {
                return std::binary_search(known.begin(), known.end(), key, TLessIgnoreCase());
            },
            [](const QString&) { return false; }};
}

QStringList SortedKnownLinks() {
    QStringList known = LargeLists().Known;
    std::sort(known.begin(), known.end(), TLessIgnoreCase());
    return known;
}

void BM_RouteLinks(benchmark::State& state) {
    const TListPageLinks found = PageOfLinks(int(state.range(0)));
    const QStringList known = SortedKnownLinks();
    const TRunLinkLists run = KnownLargeRun(known);
    for (auto _ : state) {
        const TRoutedLinks links = RouteListLinks(found, run);
        if (links.ListLinks.size() != state.range(0))
            state.SkipWithError("a link was lost or taken twice");
    }
}

// The peer: each link compared with every link taken before it on the page.
void BM_RouteLinksPairwise(benchmark::State& state) {
    const TListPageLinks found = PageOfLinks(int(state.range(0)));
    const QStringList known = SortedKnownLinks();
    const TRunLinkLists run = KnownLargeRun(known);
    for (auto _ : state) {
        TRoutedLinks links;
        for (const QString& key : found.SubrubricLinks) {
            if (run.IsKnown(key) || run.IsSkipped(key) ||
                std::any_of(
                    links.ListLinks.begin(), links.ListLinks.end(),
                    [&key](const QString& taken) { return SameTextIgnoreCase(taken, key); }))
                continue;
            links.ListLinks.append(key);
            links.Rubrics.append({key, found.Breadcrumb});
        }
        benchmark::DoNotOptimize(links);
    }
}

} // namespace

BENCHMARK(BM_RouteLinks)->Arg(10000)->Arg(80000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RouteLinksPairwise)
    ->Arg(2500)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);
BENCHMARK(BM_RunStart)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_ReadSavedRun)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_RunEnd)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

BENCHMARK_MAIN();
