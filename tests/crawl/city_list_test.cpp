#include "crawl/city_list.h"

#include "tests/qt_print.h"
#include "tests/support/case_name.h"

#include <gtest/gtest.h>

namespace {

struct TParseCase {
    QString Line;
    QString Label;
    QString Url;
    bool HasUrl;
};

class ParseCityLinesTest : public testing::TestWithParam<TParseCase> {};

TEST_P(ParseCityLinesTest, SplitsAtTheFirstEquals) {
    const TParseCase& c = GetParam();
    const QList<TCityItem> items = ParseCityLines({c.Line});
    ASSERT_EQ(items.size(), 1);
    EXPECT_EQ(items[0].Label, c.Label);
    EXPECT_EQ(items[0].Url, c.Url);
    EXPECT_EQ(items[0].HasUrl, c.HasUrl);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ParseCityLinesTest,
    testing::Values(TParseCase{"Россия, Томск=https://tomsk.quorvel.ru", "Россия, Томск",
                               "https://tomsk.quorvel.ru", true},
                    TParseCase{"Россия, Курск=/kursk/cafe/", "Россия, Курск", "/kursk/cafe/", true},
                    TParseCase{"a=b=c", "a", "b=c", true},
                    TParseCase{"=https://x", "", "https://x", true},
                    TParseCase{"Label only=", "Label only", "", true},
                    TParseCase{"Без ссылки", "Без ссылки", "", false},
                    TParseCase{"", "", "", false}));

TEST(ParseCityLines, KeepsFileOrderAndDuplicates) {
    const QList<TCityItem> items = ParseCityLines({"b=2", "a=1", "b=3"});
    ASSERT_EQ(items.size(), 3);
    EXPECT_EQ(items[0].Url, "2");
    EXPECT_EQ(items[1].Label, "a");
    EXPECT_EQ(items[2].Url, "3");
}

struct TMatchCase {
    const char* Name;
    QStringList Labels;
    QList<int> Expected;
};

class MatchSelectionTest : public testing::TestWithParam<TMatchCase> {};

TEST_P(MatchSelectionTest, SelectsEveryItemWhoseLabelMatchesIgnoringCase) {
    const QList<TCityItem> items = ParseCityLines(
        {"Россия, Томск=https://t", "Россия, Курск=/k/", "россия, томск=https://t2", "Plain"});
    EXPECT_EQ(MatchSelection(items, GetParam().Labels), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Labels, MatchSelectionTest,
    testing::Values(TMatchCase{"None", {}, {}}, TMatchCase{"Unknown", {"Россия, Омск"}, {}},
                    TMatchCase{"OtherCaseMatchesBoth", {"РОССИЯ, ТОМСК"}, {0, 2}},
                    TMatchCase{"ListOrderNotLabelOrder", {"plain", "Россия, Курск"}, {1, 3}},
                    TMatchCase{"RepeatedLabelSelectsOnce", {"Plain", "PLAIN"}, {3}},
                    TMatchCase{"NoPrefixMatch", {"Россия"}, {}}),
    CaseName);

} // namespace
