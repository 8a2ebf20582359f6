#include "crawl/site_url.h"

#include "tests/qt_print.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace {

TEST(SiteBaseUrl, ReadsTheEnvironment) {
    const struct {
        const char* Name;
        std::optional<std::string> Variable;
        QString Expected;
    } cases[] = {
        {"unset", std::nullopt, "https://quorvel.ru"},
        {"empty", "", "https://quorvel.ru"},
        {"given", "https://127.0.0.1:4443", "https://127.0.0.1:4443"},
        {"trailing slash dropped", "https://site.test//", "https://site.test"},
        {"only a slash", "/", "https://quorvel.ru"},
    };
    for (const auto& c : cases) {
        if (c.Variable)
            setenv("QUORVEL_BASE_URL", c.Variable->c_str(), 1);
        else
            unsetenv("QUORVEL_BASE_URL");
        EXPECT_EQ(SiteBaseUrl(), c.Expected) << c.Name;
    }
    unsetenv("QUORVEL_BASE_URL");
}

} // namespace
