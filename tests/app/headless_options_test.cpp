#include "app/headless_options.h"

#include "tests/qt_print.h"
#include "tests/support/case_name.h"

#include <gtest/gtest.h>

namespace {

struct TArgsCase {
    const char* Name;
    QStringList Arguments;
    QStringList Cities;
    bool All, Fresh, Resume, Help;
    bool Error;
    QString Dir = {};
    bool Version = false;
};

void PrintTo(const TArgsCase& c, std::ostream* os) {
    *os << c.Name;
}

class HeadlessArgsTest : public testing::TestWithParam<TArgsCase> {};

TEST_P(HeadlessArgsTest, Parses) {
    const TArgsCase& c = GetParam();
    const THeadlessOptions options = ParseHeadlessArgs(c.Arguments);
    EXPECT_EQ(!options.Error.isEmpty(), c.Error) << options.Error.toStdString();
    if (c.Error)
        return;
    EXPECT_EQ(options.Cities, c.Cities);
    EXPECT_EQ(options.All, c.All);
    EXPECT_EQ(options.Fresh, c.Fresh);
    EXPECT_EQ(options.Resume, c.Resume);
    EXPECT_EQ(options.Help, c.Help);
    EXPECT_EQ(options.Dir, c.Dir);
    EXPECT_EQ(options.Version, c.Version);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, HeadlessArgsTest,
    testing::Values(
        TArgsCase{"Bare", {"--headless"}, {}, false, false, false, false, false},
        TArgsCase{"Cities",
                  {"--city", "Россия, Томск", "--headless", "--city=Россия, Курск"},
                  {"Россия, Томск", "Россия, Курск"},
                  false,
                  false,
                  false,
                  false,
                  false},
        TArgsCase{"CityLabelLooksLikeAnOption",
                  {"--headless", "--city", "--all"},
                  {"--all"},
                  false,
                  false,
                  false,
                  false,
                  false},
        TArgsCase{
            "AllFresh", {"--headless", "--all", "--fresh"}, {}, true, true, false, false, false},
        TArgsCase{"Resume", {"--resume", "--headless"}, {}, false, false, true, false, false},
        TArgsCase{"Help", {"--headless", "--help"}, {}, false, false, false, true, false},
        TArgsCase{
            "CityWithoutLabel", {"--headless", "--city"}, {}, false, false, false, false, true},
        TArgsCase{"Dir",
                  {"--headless", "--dir", "/data/q", "--all"},
                  {},
                  true,
                  false,
                  false,
                  false,
                  false,
                  "/data/q"},
        TArgsCase{"DirEquals",
                  {"--dir=rel/d", "--headless"},
                  {},
                  false,
                  false,
                  false,
                  false,
                  false,
                  "rel/d"},
        TArgsCase{"DirWithoutValue", {"--headless", "--dir"}, {}, false, false, false, false, true},
        TArgsCase{"DirEmpty", {"--headless", "--dir="}, {}, false, false, false, false, true},
        TArgsCase{"Version",
                  {"--headless", "--version"},
                  {},
                  false,
                  false,
                  false,
                  false,
                  false,
                  "",
                  true},
        TArgsCase{"Unknown", {"--headless", "--limit", "3"}, {}, false, false, false, false, true},
        TArgsCase{"FreshAndResume",
                  {"--headless", "--fresh", "--resume"},
                  {},
                  false,
                  false,
                  false,
                  false,
                  true},
        TArgsCase{"AllAndCity",
                  {"--headless", "--all", "--city", "x"},
                  {},
                  false,
                  false,
                  false,
                  false,
                  true}),
    CaseName);

struct TWindowArgsCase {
    const char* Name;
    QStringList Arguments;
    QString Dir;
    bool Help, Version, Error;
};

void PrintTo(const TWindowArgsCase& c, std::ostream* os) {
    *os << c.Name;
}

class WindowArgsTest : public testing::TestWithParam<TWindowArgsCase> {};

TEST_P(WindowArgsTest, ParsesOursAndLeavesTheToolkitsAlone) {
    const TWindowArgsCase& c = GetParam();
    const TWindowOptions options = ParseWindowArgs(c.Arguments);
    EXPECT_EQ(!options.Error.isEmpty(), c.Error) << options.Error.toStdString();
    EXPECT_EQ(options.Dir, c.Dir);
    EXPECT_EQ(options.Help, c.Help);
    EXPECT_EQ(options.Version, c.Version);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, WindowArgsTest,
    testing::Values(TWindowArgsCase{"None", {}, "", false, false, false},
                    TWindowArgsCase{"ToolkitOptions",
                                    {"-platform", "offscreen", "--style", "fusion"},
                                    "",
                                    false,
                                    false,
                                    false},
                    TWindowArgsCase{
                        "Dir", {"-platform", "xcb", "--dir", "d"}, "d", false, false, false},
                    TWindowArgsCase{"DirEquals", {"--dir=/a b"}, "/a b", false, false, false},
                    TWindowArgsCase{"Help", {"--help"}, "", true, false, false},
                    TWindowArgsCase{"ShortHelp", {"-h"}, "", true, false, false},
                    TWindowArgsCase{"Version", {"--version"}, "", false, true, false},
                    TWindowArgsCase{"DirWithoutValue", {"--dir"}, "", false, false, true},
                    TWindowArgsCase{"DirEmpty", {"--dir", ""}, "", false, false, true}),
    CaseName);

TEST(HeadlessArgs, OnlyTheFlagSelectsTheFrontEnd) {
    EXPECT_TRUE(WantsHeadless({"--all", "--headless"}));
    EXPECT_FALSE(WantsHeadless({}));
    EXPECT_FALSE(WantsHeadless({"--headless=1", "-headless"}));
}

} // namespace
