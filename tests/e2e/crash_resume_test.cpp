#include "tests/support/scraper_process.h"

#include "testsite/site_server.h"

#include <gtest/gtest.h>

#include "tests/qt_print.h"
#include "tests/support/case_name.h"

namespace {

// Where the program is killed: once `Held` responses are held back (or, with none
// held, once it has logged `FoundLines` "Найдено" lines), `Kills` times in a row,
// the later kills hitting the resumed runs.
struct TCrashPoint {
    const char* Name;
    QStringList Held;
    int HeldAtKill;
    int FoundLines;
    int Kills;
};

void PrintTo(const TCrashPoint& point, std::ostream* os) {
    *os << point.Name;
}

class HeadlessCrash : public testing::TestWithParam<TCrashPoint> {};

// SIGKILL gives the program no chance to save anything; the next resume goes on
// from its journal, and together the runs write each row of the site exactly once.
TEST_P(HeadlessCrash, ResumeContinuesTheKilledRun) {
    const TCrashPoint& point = GetParam();
    TSiteServer site;
    const TSiteModel& model = site.Model();
    TScraperDir dir({model.CityLine()});
    for (int kill = 0; kill < point.Kills; ++kill) {
        site.HoldWhen([&](const QString& path) { return point.Held.contains(path); });
        TScraperRun run(dir, {"--headless", kill == 0 ? "--fresh" : "--resume", "--all"},
                        site.BaseUrl());
        int found = 0;
        ASSERT_TRUE(point.Held.isEmpty() ? run.WaitForLine([&](const QString& line) {
            return line.contains("Найдено") && ++found == point.FoundLines;
        })
                                         : run.WaitUntil([&] {
                                               return site.HeldPaths().size() >= point.HeldAtKill;
                                           }));
        run.Kill();
        site.ReleaseHeld(); // to the killed connections: nothing arrives any more
    }
    TScraperRun resumed(dir, {"--headless", "--resume"}, site.BaseUrl());
    ASSERT_EQ(resumed.WaitForExit(), 0) << qPrintable(resumed.ErrorText());
    ExpectWholeCrawl(dir, model);
}

INSTANTIATE_TEST_SUITE_P(
    Points, HeadlessCrash,
    testing::Values(
        TCrashPoint{"CityPage", {"/"}, 1, 0, 1},
        TCrashPoint{"TwoRubricPages", {"/avto/", "/medicina/"}, 2, 0, 1},
        TCrashPoint{"TwoCardsAfterRows", {"/firm/111-ulybka/", "/firm/112-bez-dannyh/"}, 2, 0, 1},
        TCrashPoint{"ResumedRunKilledToo", {"/firm/111-ulybka/", "/firm/112-bez-dannyh/"}, 2, 0, 3},
        TCrashPoint{"MidCrawlUnheld", {}, 0, 5, 1}, TCrashPoint{"EarlyUnheldTwice", {}, 0, 2, 2}),
    CaseName);

} // namespace
