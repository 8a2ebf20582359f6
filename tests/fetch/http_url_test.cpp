#include "fetch/http_url.h"
#include "tests/qt_print.h"

#include <gtest/gtest.h>

namespace {

TEST(SplitHttpUrl, Splits) {
    const struct {
        QString Url;
        QString Protocol, Host, HostName, Port, Path;
    } cases[] = {
        {"https://quorvel.ru/city/rubric?page=2", "https", "quorvel.ru", "quorvel.ru", "",
         "/city/rubric?page=2"},
        {"HTTPS://Quorvel.RU", "https", "Quorvel.RU", "Quorvel.RU", "", "/"},
        {"http://host:8443/a", "http", "host", "host", "8443", "/a"},
        {"https://user:pw@host:444/x", "https", "host", "host", "444", "/x"},
        {"http://[::1]:8080/v6", "http", "[::1]", "::1", "8080", "/v6"},
        {"http://host?q=1", "http", "host", "host", "", "/?q=1"},
        {"https://host/page#part", "https", "host", "host", "", "/page#part"},
        {"host.only/p", "http", "host.only", "host.only", "", "/p"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Url.toStdString());
        const THttpUrlParts parts = SplitHttpUrl(c.Url);
        EXPECT_EQ(parts.Protocol, c.Protocol);
        EXPECT_EQ(parts.Host, c.Host);
        EXPECT_EQ(parts.HostName, c.HostName);
        EXPECT_EQ(parts.Port, c.Port);
        EXPECT_EQ(parts.Path, c.Path);
    }
}

TEST(UrlDirectory, KeepsUpToTheLastSlashOrColonBeforeTheQuery) {
    const std::pair<QString, QString> rows[] = {{"/a/b/c?x=/y", "/a/b/"},
                                                {"/a/b/", "/a/b/"},
                                                {"/page", "/"},
                                                {"page", ""},
                                                {"/a:b?c", "/a:"}};
    for (const auto& [path, dir] : rows)
        EXPECT_EQ(UrlDirectory(path), dir) << path.toStdString();
}

// The request being answered: https://site.test/dir/page?q=1.
TEST(ResolveRelocation, WorksOutTheNextTarget) {
    const struct {
        QString Value;
        QString Location, HostName, Port, Path;
        bool PortNamed;
    } cases[] = {
        {"/root/x", "https://site.test/root/x", "site.test", "443", "/root/x", false},
        {"other?p=2", "https://site.test/dir/other?p=2", "site.test", "443", "/dir/other?p=2",
         false},
        {"//cdn.test/a", "https://cdn.test/a", "cdn.test", "443", "/a", false},
        {"HTTP://Plain.test:8080/b", "http://Plain.test:8080/b", "Plain.test", "8080", "/b", true},
        {"http://bare.test", "http://bare.test", "bare.test", "80", "/", false},
        {"https://sec.test?x", "https://sec.test/?x", "sec.test", "443", "/?x", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Value.toStdString());
        const THttpRelocation t = ResolveRelocation("https", "site.test", "/dir/page?q=1", c.Value);
        EXPECT_EQ(t.Location, c.Location);
        EXPECT_EQ(t.HostName, c.HostName);
        EXPECT_EQ(t.Port, c.Port);
        EXPECT_EQ(t.Path, c.Path);
        EXPECT_EQ(t.PortNamed, c.PortNamed);
    }
}

} // namespace
