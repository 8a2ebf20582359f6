#include "tests/support/scraper_process.h"

#include "testsite/site_server.h"

#include <gtest/gtest.h>

#include "tests/qt_print.h"
#include "tests/support/case_name.h"

#include <algorithm>

namespace {

// Responses held back, and how many of them are held when the run is stopped.
struct TStopPoint {
    const char* Name;
    QStringList Held;
    int HeldAtStop;
};

void PrintTo(const TStopPoint& point, std::ostream* os) {
    *os << point.Name;
}

class HeadlessStop : public testing::TestWithParam<TStopPoint> {};

// Whatever was in flight at the stop is the first thing the saved work list
// holds, and the resumed run writes every row the stopped one did not, with its
// rubric.
TEST_P(HeadlessStop, ResumeWritesEveryRowTheStoppedRunDidNot) {
    TSiteServer site;
    const TSiteModel& model = site.Model();
    const QStringList held = GetParam().Held;
    site.HoldWhen([held](const QString& path) { return held.contains(path); });
    TScraperDir dir({model.CityLine()});

    TScraperRun stopped(dir, {"--headless", "--all", "--fresh"}, site.BaseUrl());
    ASSERT_TRUE(
        stopped.WaitUntil([&] { return site.HeldPaths().size() >= GetParam().HeldAtStop; }));
    stopped.Interrupt();
    ASSERT_TRUE(stopped.WaitForLine(EndsTheRun));
    site.ReleaseHeld();
    ASSERT_EQ(stopped.WaitForExit(), 0) << qPrintable(stopped.ErrorText());

    // The pages in flight at the stop lead the saved work list.
    const QStringList leading = CrLfLines(dir.ReadBytes("lists.dat")).mid(0, held.size());
    for (const QString& path : held) {
        const QString link = model.BaseUrl().mid(8) + (path == "/" ? "" : path);
        EXPECT_TRUE(std::any_of(leading.begin(), leading.end(), [&](const QString& entry) {
            return entry == link || entry.startsWith(link + "|||");
        })) << qPrintable(link);
    }

    TScraperRun resumed(dir, {"--headless", "--resume"}, site.BaseUrl());
    ASSERT_EQ(resumed.WaitForExit(), 0) << qPrintable(resumed.ErrorText());
    ExpectWholeCrawl(dir, model);
}

INSTANTIATE_TEST_SUITE_P(
    Points, HeadlessStop,
    testing::Values(TStopPoint{"CityPage", {"/"}, 1},
                    TStopPoint{"TwoRubricPages", {"/avto/", "/medicina/"}, 2},
                    TStopPoint{"TwoCards", {"/firm/111-ulybka/", "/firm/112-bez-dannyh/"}, 2},
                    TStopPoint{"NumberedPageAndLastCard",
                               {"/avto/shinomontazh/page-2/", "/firm/114-apteka-zdorovie/"},
                               2}),
    CaseName);

// A list page and a card that fail every attempt are kept in failed.dat and
// named before the last line; once the site answers again, one resume writes
// every row.
TEST(HeadlessFailedPages, OneResumeRecoversEveryRowOnceTheSiteIsBack) {
    TSiteServer site;
    const TSiteModel& model = site.Model();
    const QStringList down = {"/avto/avtomoyki/", "/firm/105-shinomontazh-koleso/"};
    site.FailWhen([down](const QString& path) { return down.contains(path); });
    TScraperDir dir({model.CityLine()});

    TScraperRun failing(dir, {"--headless", "--all", "--fresh"}, site.BaseUrl());
    ASSERT_EQ(failing.WaitForExit(), 0) << qPrintable(failing.ErrorText());
    const QStringList failed = CrLfLines(dir.ReadBytes("failed.dat"));
    ASSERT_EQ(failed.size(), 2) << qPrintable(failed.join("\n"));
    EXPECT_TRUE(failed.contains(model.BaseUrl().mid(8) + down[0]));
    const QStringList output = failing.OutputLines();
    ASSERT_GE(output.size(), 2);
    EXPECT_TRUE(output[output.size() - 2].contains("Не удалось загрузить страниц: 2"))
        << qPrintable(output[output.size() - 2]);
    EXPECT_TRUE(output[output.size() - 2].contains(dir.Path("failed.dat")));

    site.FailWhen({});
    TScraperRun resumed(dir, {"--headless", "--resume"}, site.BaseUrl());
    ASSERT_EQ(resumed.WaitForExit(), 0) << qPrintable(resumed.ErrorText());
    ExpectWholeCrawl(dir, model);
}

// A second run in a directory where one runs refuses to start, naming the first;
// the first run goes on undisturbed.
TEST(HeadlessLock, ASecondRunInTheDirectoryNamesTheFirst) {
    TSiteServer site;
    const TSiteModel& model = site.Model();
    site.HoldWhen([](const QString& path) { return path == "/"; });
    TScraperDir dir({model.CityLine()});
    TScraperRun first(dir, {"--headless", "--all", "--fresh"}, site.BaseUrl());
    ASSERT_TRUE(first.WaitUntil([&] { return site.HeldPaths().size() == 1; }));

    TScraperRun second(dir, {"--headless", "--all", "--fresh"}, site.BaseUrl());
    EXPECT_EQ(second.WaitForExit(), 1);
    EXPECT_TRUE(second.ErrorText().contains(QString::number(first.ProcessId())))
        << qPrintable(second.ErrorText());
    EXPECT_TRUE(second.OutputLines().isEmpty());

    site.ReleaseHeld();
    ASSERT_EQ(first.WaitForExit(), 0) << qPrintable(first.ErrorText());
    ExpectWholeCrawl(dir, model);
}

} // namespace
