#include "full_disk.h"
#include "tests/support/scraper_process.h"

#include "testsite/site_server.h"

#include <gtest/gtest.h>

#include "tests/qt_print.h"
#include "tests/support/case_name.h"

#include <iostream>

namespace {

// When the disk fills: once `Held` responses are held back and, for the run's
// end, once `RowsWritten` rows (all of them) are in the data file.
struct TDiskCase {
    const char* Name;
    TFullDisk::TKind Kind;
    QStringList Held;
    int RowsWritten;
};

void PrintTo(const TDiskCase& c, std::ostream* os) {
    *os << c.Name;
}

class HeadlessFullDisk : public testing::TestWithParam<TDiskCase> {};

// The run ends as a failure that names the system's reason, every file holds
// whole lines only and no temporary file is left; once there is room again, one
// resume writes every row the full disk kept out. A disk that fills only as the
// run ends leaves the lists it had.
TEST_P(HeadlessFullDisk, NothingIsLostAndTheResumeWritesTheRest) {
    const TDiskCase& c = GetParam();
    TFullDisk disk(c.Kind);
    TSiteServer site;
    const TSiteModel& model = site.Model();
    site.HoldWhen([&](const QString& path) { return c.Held.contains(path); });
    TScraperDir dir({model.CityLine()}, TClientFiles::Written,
                    [&](const QString& path) { disk.Prepare(path); });
    std::cout << "[ disk     ] " << disk.Description().toStdString() << std::endl;
    RecordProperty("disk", disk.Description().toStdString());

    TScraperRun run(dir, {"--headless", "--all", "--fresh"}, site.BaseUrl(), disk.Environment());
    ASSERT_TRUE(run.WaitUntil([&] {
        return site.HeldPaths().size() == c.Held.size() &&
               dir.AllDataRows().size() >= c.RowsWritten;
    }));
    const QByteArray listsBefore = dir.ReadBytes("lists.dat");
    disk.Fill();
    site.ReleaseHeld();
    EXPECT_EQ(run.WaitForExit(), 1) << qPrintable(run.ErrorText());

    const QStringList output = run.OutputLines();
    const auto failure = std::find_if(output.begin(), output.end(), [](const QString& line) {
        return line.contains("Ошибка: ");
    });
    ASSERT_NE(failure, output.end()) << qPrintable(output.join("\n"));
    EXPECT_TRUE(failure->contains("No space left on device")) << qPrintable(*failure);
    const QStringList expected = ExpectedRows(model);
    for (const QString& row : dir.AllDataRows())
        EXPECT_TRUE(expected.contains(row)) << qPrintable(row);
    for (const char* list : {"lists.dat", "allknown.dat", "rubrics.dat", "failed.dat"})
        EXPECT_FALSE(CrLfLines(dir.ReadBytes(list)).contains("<not BOM + CR LF lines>")) << list;
    EXPECT_TRUE(dir.Files("*.tmp*").isEmpty());
    if (c.RowsWritten > 0) {
        // Only the end met the full disk: every row is written and the lists stay
        // as they were, not replaced by empty or cut ones.
        EXPECT_EQ(dir.ReadBytes("lists.dat"), listsBefore);
        QStringList rows = dir.AllDataRows(), all = expected;
        rows.sort();
        all.sort();
        EXPECT_EQ(rows, all);
        return;
    }

    disk.Free();
    TScraperRun resumed(dir, {"--headless", "--resume"}, site.BaseUrl(), disk.Environment());
    ASSERT_EQ(resumed.WaitForExit(), 0) << qPrintable(resumed.ErrorText());
    ExpectWholeCrawl(dir, model);
}

// The city page: what follows it outgrows whatever room the files' last blocks
// still have, so the disk refuses a row or a journal record before the run ends.
const QStringList CityPage = {"/"};
const QStringList TwoCards = {"/firm/111-ulybka/", "/firm/112-bez-dannyh/"};
// A list page without cards or links, held until every row is written.
const QStringList LastPage = {"/avto/shiny-i-diski/"};

INSTANTIATE_TEST_SUITE_P(
    Points, HeadlessFullDisk,
    testing::Values(TDiskCase{"MidRunTmpfs", TFullDisk::TKind::Tmpfs, CityPage, 0},
                    TDiskCase{"MidRunInjected", TFullDisk::TKind::Injected, TwoCards, 0},
                    TDiskCase{"AtTheEndTmpfs", TFullDisk::TKind::Tmpfs, LastPage, 15},
                    TDiskCase{"AtTheEndInjected", TFullDisk::TKind::Injected, LastPage, 15}),
    CaseName);

} // namespace
