#include "tests/fetch/http_feed_rig.h"
#include "tests/qt_print.h"

#include <gtest/gtest.h>

#include <QTimeZone>

#include <functional>

namespace {

const char* const kAgent = "Mozilla/5.0 (Windows NT 10.0; Win64; x64)";

// The client as the fetch worker sets it up.
void SystemSettings(THttpCli& cli, const QString& url) {
    cli.URL = url;
    cli.Reference = url;
    cli.Agent = kAgent;
    cli.Accept = "text/html, */*";
    cli.Timeout = 120;
    cli.MultiThreaded = true;
    cli.SetOptions({httpoEnableContentCoding});
}

TEST(HttpRequest, LinesInTheirOrder) {
    const auto noReference = [](THttpCli& c) { c.Reference.clear(); };
    const struct {
        const char* Name;
        QString Url;
        std::function<void(THttpCli&)> Change;
        QByteArray Expected; // "{agent}" stands for the agent string
    } cases[] = {
        {"SystemProfile", "https://quorvel.ru/city/rubric?page=2", nullptr,
         "GET /city/rubric?page=2 HTTP/1.0\r\nAccept: text/html, */*\r\n"
         "Referer: https://quorvel.ru/city/rubric?page=2\r\n"
         "Accept-Encoding: gzip, deflate, br\r\nUser-Agent: {agent}\r\n"
         "Host: quorvel.ru\r\n\r\n"},
        {"NothingAfterHost", "https://quorvel.ru", noReference,
         "GET / HTTP/1.0\r\nAccept: text/html, */*\r\n"
         "Accept-Encoding: gzip, deflate, br\r\nUser-Agent: {agent}\r\n"
         "Host: quorvel.ru\r\n\r\n"},
        {"NamedPortInHost", "https://h.test:8443/p", noReference,
         "GET /p HTTP/1.0\r\nAccept: text/html, */*\r\n"
         "Accept-Encoding: gzip, deflate, br\r\nUser-Agent: {agent}\r\n"
         "Host: h.test:8443\r\n\r\n"},
        {"Port80OverHttpsNotNamed", "https://h.test:80/p", noReference,
         "GET /p HTTP/1.0\r\nAccept: text/html, */*\r\n"
         "Accept-Encoding: gzip, deflate, br\r\nUser-Agent: {agent}\r\n"
         "Host: h.test\r\n\r\n"},
        {"Port443OverHttpNotNamed", "http://h.test:443/p", noReference,
         "GET /p HTTP/1.0\r\nAccept: text/html, */*\r\n"
         "Accept-Encoding: gzip, deflate, br\r\nUser-Agent: {agent}\r\n"
         "Host: h.test\r\n\r\n"},
        {"EveryOptionalLine", "http://h.test/p#frag",
         [](THttpCli& c) {
             c.Reference.clear();
             c.Sender = "me@h.test";
             c.Connection = "Keep-Alive";
             c.AcceptLanguage = "ru";
             c.NoCache = true;
             c.ModifiedSince = QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5), QTimeZone::utc());
             c.Cookie = "a=1";
             c.ContentRangeBegin = "10";
             c.ExtraHeaders = {"X-One: 1", ": no name", "X-Bad:nospace", "X-Two: 2"};
             c.SetRequestVer("1.1");
         },
         "GET /p#frag HTTP/1.1\r\nFrom: me@h.test\r\nAccept: text/html, */*\r\n"
         "Connection: Keep-Alive\r\nAccept-Language: ru\r\n"
         "Accept-Encoding: gzip, deflate, br\r\nUser-Agent: {agent}\r\n"
         "Host: h.test\r\nPragma: no-cache\r\n"
         "If-Modified-Since: Fri, 02 Jan 2026 03:04:05 GMT\r\nCookie: a=1\r\n"
         "Range: bytes=10-\r\nX-One: 1\r\nX-Two: 2\r\n\r\n"},
        {"NoDecodingNoAcceptEncoding", "http://h.test/",
         [](THttpCli& c) {
             c.Reference.clear();
             c.SetOptions({});
             c.Accept.clear();
             c.Agent.clear();
         },
         "GET / HTTP/1.0\r\nHost: h.test\r\n\r\n"},
        // A line break smuggled into a URL must not start a header line of its own.
        {"LineBreaksInUrlDropped", "http://h.test/a\r\nX-Injected: 1", noReference,
         "GET /aX-Injected: 1 HTTP/1.0\r\nAccept: text/html, */*\r\n"
         "Accept-Encoding: gzip, deflate, br\r\nUser-Agent: {agent}\r\n"
         "Host: h.test\r\n\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TFeedCli cli;
        SystemSettings(cli, c.Url);
        if (c.Change)
            c.Change(cli);
        cli.BeginResponse(c.Url);
        QByteArray expected = c.Expected;
        expected.replace("{agent}", kAgent);
        EXPECT_EQ(cli.RequestBytes(), expected);
    }
}

TEST(HttpRequest, HeadCarriesNoAcceptEncoding) {
    TFeedCli cli;
    SystemSettings(cli, "http://h.test/x");
    cli.BeginResponse("http://h.test/x");
    EXPECT_FALSE(cli.RequestBytes(httpHEAD).contains("Accept-Encoding"));
    EXPECT_TRUE(cli.RequestBytes(httpHEAD).startsWith("HEAD /x HTTP/1.0\r\n"));
}

// A notice left queued by an ended request must not complete the next one.
TEST(HttpRequest, StaleSetReadyDoesNotCompleteTheNextRequest) {
    TFeedCli cli;
    cli.BeginResponse();
    cli.LeaveSetReadyQueued();
    cli.BeginResponse();
    cli.Pump();
    EXPECT_FALSE(cli.Ready());
    cli.Feed("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
    EXPECT_TRUE(cli.Ready());
    EXPECT_EQ(cli.Body.Data(), "ok");
}

TEST(HttpRequest, GetWhileARequestRunsIsRefusedAsBusy) {
    TFeedCli cli;
    cli.Name = "cli1";
    cli.BeginResponse();
    try {
        cli.Get();
        FAIL() << "accepted";
    } catch (const EHttpException& e) {
        EXPECT_EQ(e.Message(), "HTTP component cli1 is busy");
        EXPECT_EQ(e.ErrorCode(), 1);
    }
    EXPECT_EQ(cli.State(), httpWaitingHeader);
}

} // namespace
