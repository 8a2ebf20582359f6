#include "fetch/http_url.h"
#include "tests/qt_print.h"

#include <gtest/gtest.h>

namespace {

struct TSplitCase {
    QString Url;
    QString Protocol, Host, HostName, Port, Path;
};

class UrlSplitTable : public testing::TestWithParam<TSplitCase> {};

TEST_P(UrlSplitTable, Splits) {
    const TSplitCase& c = GetParam();
    const THttpUrlParts parts = SplitHttpUrl(c.Url);
    EXPECT_EQ(parts.Protocol, c.Protocol);
    EXPECT_EQ(parts.Host, c.Host);
    EXPECT_EQ(parts.HostName, c.HostName);
    EXPECT_EQ(parts.Port, c.Port);
    EXPECT_EQ(parts.Path, c.Path);
}

INSTANTIATE_TEST_SUITE_P(
    Urls, UrlSplitTable,
    testing::Values(TSplitCase{"https://quorvel.ru/city/rubric?page=2", "https", "quorvel.ru",
                               "quorvel.ru", "", "/city/rubric?page=2"},
                    TSplitCase{"HTTPS://Quorvel.RU", "https", "Quorvel.RU", "Quorvel.RU", "", "/"},
                    TSplitCase{"http://host:8443/a", "http", "host", "host", "8443", "/a"},
                    TSplitCase{"https://user:pw@host:444/x", "https", "host", "host", "444", "/x"},
                    TSplitCase{"http://[::1]:8080/v6", "http", "[::1]", "::1", "8080", "/v6"},
                    TSplitCase{"http://host?q=1", "http", "host", "host", "", "/?q=1"},
                    TSplitCase{"https://host/page#part", "https", "host", "host", "", "/page#part"},
                    TSplitCase{"host.only/p", "http", "host.only", "host.only", "", "/p"}));

TEST(UrlDirectory, KeepsUpToTheLastSlashOrColonBeforeTheQuery) {
    const std::pair<QString, QString> rows[] = {{"/a/b/c?x=/y", "/a/b/"},
                                                {"/a/b/", "/a/b/"},
                                                {"/page", "/"},
                                                {"page", ""},
                                                {"/a:b?c", "/a:"}};
    for (const auto& [path, dir] : rows)
        EXPECT_EQ(UrlDirectory(path), dir) << path.toStdString();
}

struct TRelocationCase {
    QString Value;
    QString Location, HostName, Port, Path;
    bool PortNamed;
};

class RelocationTable : public testing::TestWithParam<TRelocationCase> {};

// The request being answered: https://site.test/dir/page?q=1.
TEST_P(RelocationTable, WorksOutTheNextTarget) {
    const TRelocationCase& c = GetParam();
    const THttpRelocation t = ResolveRelocation("https", "site.test", "/dir/page?q=1", c.Value);
    EXPECT_EQ(t.Location, c.Location);
    EXPECT_EQ(t.HostName, c.HostName);
    EXPECT_EQ(t.Port, c.Port);
    EXPECT_EQ(t.Path, c.Path);
    EXPECT_EQ(t.PortNamed, c.PortNamed);
}

INSTANTIATE_TEST_SUITE_P(
    Locations, RelocationTable,
    testing::Values(
        TRelocationCase{"/root/x", "https://site.test/root/x", "site.test", "443", "/root/x",
                        false},
        TRelocationCase{"other?p=2", "https://site.test/dir/other?p=2", "site.test", "443",
                        "/dir/other?p=2", false},
        TRelocationCase{"//cdn.test/a", "https://cdn.test/a", "cdn.test", "443", "/a", false},
        TRelocationCase{"HTTP://Plain.test:8080/b", "http://Plain.test:8080/b", "Plain.test",
                        "8080", "/b", true},
        TRelocationCase{"http://bare.test", "http://bare.test", "bare.test", "80", "/", false},
        TRelocationCase{"https://sec.test?x", "https://sec.test/?x", "sec.test", "443", "/?x",
                        false}));

} // namespace
