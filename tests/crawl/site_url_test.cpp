#include "crawl/site_url.h"

#include "tests/qt_print.h"
#include "tests/support/case_name.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace {

struct TBaseCase {
    const char* Name;
    std::optional<std::string> Variable;
    QString Expected;
};

class SiteBaseUrlTest : public testing::TestWithParam<TBaseCase> {
protected:
    void TearDown() override { unsetenv("QUORVEL_BASE_URL"); }
};

TEST_P(SiteBaseUrlTest, ReadsTheEnvironment) {
    if (GetParam().Variable)
        setenv("QUORVEL_BASE_URL", GetParam().Variable->c_str(), 1);
    else
        unsetenv("QUORVEL_BASE_URL");
    EXPECT_EQ(SiteBaseUrl(), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, SiteBaseUrlTest,
    testing::Values(TBaseCase{"Unset", std::nullopt, "https://quorvel.ru"},
                    TBaseCase{"Empty", "", "https://quorvel.ru"},
                    TBaseCase{"Given", "https://127.0.0.1:4443", "https://127.0.0.1:4443"},
                    TBaseCase{"TrailingSlashDropped", "https://site.test//", "https://site.test"},
                    TBaseCase{"OnlySlash", "/", "https://quorvel.ru"}),
    CaseName);

} // namespace
