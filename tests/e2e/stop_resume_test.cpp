#include "scraper_process.h"

#include "testsite/site_server.h"

#include <QSet>

#include <gtest/gtest.h>

#include "tests/qt_print.h"

namespace {

QStringList DataRowsOf(const TScraperDir& dir, const QString& name) {
    return CrLfLines(dir.ReadBytes(name)).mid(1);
}

bool EndsTheRun(const QString& line) {
    return line.contains("Работа завершена, лог записан в ");
}

// Removes from `expected` the first entry equal to `row`; false when there is none.
bool TakeRow(QStringList& expected, const QString& row) {
    int index = expected.indexOf(row);
    if (index < 0)
        return false;
    expected.removeAt(index);
    return true;
}

// A stop while two card pages are in flight, then a resumed run: the in-flight
// cards are lost, everything else is written exactly once, and the resumed run no
// longer knows the rubric of subrubrics found before the stop.
TEST(HeadlessStop, ResumeFinishesWhatTheStoppedRunLeft) {
    TSiteServer site;
    const TSiteModel& model = site.Model();
    const QString heldList = model.BaseUrl().mid(8) + "/medicina/stomatologiya/";
    const QStringList heldCards = model.CardPathsOfList(heldList);
    site.HoldWhen([heldCards](const QString& path) { return heldCards.contains(path); });
    TScraperDir dir({model.CityLine()});

    TScraperRun stopped(dir, {"--headless", "--all", "--fresh"}, site.BaseUrl());
    // Both fetch threads end up waiting for a held card: the run cannot go on.
    stopped.WaitUntil([&] { return site.HeldPaths().size() >= 2; });
    const QStringList lost = site.HeldPaths();
    ASSERT_EQ(lost.size(), 2);
    stopped.Interrupt();
    ASSERT_TRUE(stopped.WaitForLine(EndsTheRun));
    site.ReleaseHeld();
    ASSERT_EQ(stopped.WaitForExit(), 0) << qPrintable(stopped.ErrorText());

    const QStringList leftOver = CrLfLines(dir.ReadBytes("lists.dat"));
    EXPECT_TRUE(leftOver.contains(heldList + "page-2/")) << qPrintable(leftOver.join("\n"));
    for (const QString& entry : leftOver)
        for (const QString& card : lost)
            EXPECT_FALSE(entry.startsWith(model.BaseUrl().mid(8) + card)) << qPrintable(entry);
    const QStringList knownAtStop = CrLfLines(dir.ReadBytes("allknown.dat"));
    const QStringList firstFiles = dir.Files("data*.csv");
    ASSERT_EQ(firstFiles.size(), 1);

    TScraperRun resumed(dir, {"--headless", "--resume"}, site.BaseUrl());
    ASSERT_EQ(resumed.WaitForExit(), 0) << qPrintable(resumed.ErrorText());
    EXPECT_EQ(dir.ReadBytes("lists.dat"), Bom);
    const QStringList known = CrLfLines(dir.ReadBytes("allknown.dat"));
    const QStringList expectedKnown = model.ExpectedKnownLinks();
    EXPECT_EQ(QSet<QString>(known.begin(), known.end()),
              QSet<QString>(expectedKnown.begin(), expectedKnown.end()));

    QStringList beforeStop, afterResume;
    for (const TExpectedRecord& record : model.ExpectedRecords()) {
        if (lost.contains(record.Columns[12].mid(model.BaseUrl().size())))
            continue;
        beforeStop.append(DataRowText(record.Columns));
        QStringList columns = record.Columns;
        if (knownAtStop.contains(record.ListKey))
            columns[3].clear();
        afterResume.append(DataRowText(columns));
    }
    // Every row is one record of the site, consumed once across both runs.
    for (const QString& row : DataRowsOf(dir, firstFiles[0])) {
        int index = beforeStop.indexOf(row);
        ASSERT_GE(index, 0) << qPrintable(row);
        beforeStop.removeAt(index);
        afterResume.removeAt(index);
    }
    QStringList secondFiles = dir.Files("data*.csv");
    secondFiles.removeAll(firstFiles[0]);
    ASSERT_EQ(secondFiles.size(), 1);
    for (const QString& row : DataRowsOf(dir, secondFiles[0]))
        EXPECT_TRUE(TakeRow(afterResume, row)) << qPrintable(row);
    EXPECT_TRUE(afterResume.isEmpty()) << qPrintable(afterResume.join("\n"));
}

} // namespace
