#include "crawl/city_list.h"

#include "tests/qt_print.h"

#include <gtest/gtest.h>

namespace {

// Crawlable: a run can start from the item.
TEST(ParseCityLines, SplitsAtTheFirstEquals) {
    const struct {
        QString Line;
        QString Label;
        QString Url;
        bool HasUrl;
        bool Crawlable;
    } cases[] = {
        {"Россия, Томск=https://tomsk.quorvel.ru", "Россия, Томск", "https://tomsk.quorvel.ru",
         true, true},
        {"Россия, Курск=/kursk/cafe/", "Россия, Курск", "/kursk/cafe/", true, true},
        {"Старый=http://old.ru", "Старый", "http://old.ru", true, true},
        {"Ftp=ftp://old.ru", "Ftp", "ftp://old.ru", true, false},
        {"a=b=c", "a", "b=c", true, false},
        {"=https://x", "", "https://x", true, true},
        {"Label only=", "Label only", "", true, false},
        {"Без ссылки", "Без ссылки", "", false, false},
        {"", "", "", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Line.toStdString());
        const QList<TCityItem> items = ParseCityLines({c.Line});
        ASSERT_EQ(items.size(), 1);
        EXPECT_EQ(items[0].Label, c.Label);
        EXPECT_EQ(items[0].Url, c.Url);
        EXPECT_EQ(items[0].HasUrl, c.HasUrl);
        EXPECT_EQ(HasCrawlableUrl(items[0]), c.Crawlable);
    }
}

TEST(ParseCityLines, KeepsFileOrderAndDuplicates) {
    const QList<TCityItem> items = ParseCityLines({"b=2", "a=1", "b=3"});
    ASSERT_EQ(items.size(), 3);
    EXPECT_EQ(items[0].Url, "2");
    EXPECT_EQ(items[1].Label, "a");
    EXPECT_EQ(items[2].Url, "3");
}

TEST(MatchSelection, SelectsEveryItemWhoseLabelMatchesIgnoringCase) {
    const QList<TCityItem> items = ParseCityLines(
        {"Россия, Томск=https://t", "Россия, Курск=/k/", "россия, томск=https://t2", "Plain"});
    const struct {
        const char* Name;
        QStringList Labels;
        QList<int> Expected;
    } cases[] = {
        {"none", {}, {}},
        {"unknown", {"Россия, Омск"}, {}},
        {"other case matches both", {"РОССИЯ, ТОМСК"}, {0, 2}},
        {"list order, not label order", {"plain", "Россия, Курск"}, {1, 3}},
        {"repeated label selects once", {"Plain", "PLAIN"}, {3}},
        {"no prefix match", {"Россия"}, {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MatchSelection(items, c.Labels), c.Expected) << c.Name;
}

} // namespace
