#include "fetch/brotli_decode.h"
#include "fetch/content_coding.h"
#include "tests/fetch/http_feed_rig.h"
#include "tests/qt_print.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

namespace {

const char* const kAgent = "Mozilla/5.0 (Windows NT 10.0; Win64; x64)";

// The client as the fetch worker sets it up.
void SystemSettings(THttpCli& cli, const QString& url) {
    cli.Request.URL = url;
    cli.Request.Reference = url;
    cli.Request.Agent = kAgent;
    cli.Request.Accept = "text/html, */*";
    cli.Request.Timeout = 120;
    cli.SetOptions({httpoEnableContentCoding});
}

TEST(HttpRequest, LinesInTheirOrder) {
    const auto noReference = [](THttpCli& c) { c.Request.Reference.clear(); };
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
        {"KeepAliveAsVersion11", "http://h.test/p#frag",
         [](THttpCli& c) {
             c.Request.Reference.clear();
             c.Request.SetRequestVer("1.1");
         },
         "GET /p#frag HTTP/1.1\r\nAccept: text/html, */*\r\n"
         "Accept-Encoding: gzip, deflate, br\r\nUser-Agent: {agent}\r\n"
         "Host: h.test\r\n\r\n"},
        {"NoDecodingNoAcceptEncoding", "http://h.test/",
         [](THttpCli& c) {
             c.Request.Reference.clear();
             c.SetOptions({});
             c.Request.Accept.clear();
             c.Request.Agent.clear();
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

// The Accept-Encoding line is fixed text: it must name exactly the codings the
// decoding stage offers and the one the fetch job decodes itself, so a decoder
// added or dropped on one side only fails here.
TEST(HttpRequest, OfferedCodingsAreTheOnesDecoded) {
    TMemoryStream* noOutput = nullptr;
    THttpContCodHandler stage(&noOutput, {});
    stage.SetEnabled(true);
    QStringList decoded = SplitCodingNames(stage.HeaderText()) << BrotliCoding;
    QStringList offered = SplitCodingNames(OfferedContentCodings);
    std::sort(decoded.begin(), decoded.end());
    std::sort(offered.begin(), offered.end());
    EXPECT_EQ(offered, decoded);
}

// A client that stops where a relocation would open its next connection.
class TRelocatingCli : public TFeedCli {
public:
    int Opened = 0;

protected:
    void OpenConnection() override { ++Opened; }
};

// After a Location the next request names the new path, and its Host line the new
// host, with the port only when the Location names one other than 80 and 443.
TEST(HttpRequest, RelocationAimsTheNextRequest) {
    const struct {
        const char* Name;
        QByteArray Location;
        QByteArray RequestLine;
        QByteArray Host;
    } cases[] = {
        {"Relative", "next?y=2", "GET /dir/next?y=2 HTTP/1.0", "h.test:8443"},
        {"OtherHost", "http://other.test/x", "GET /x HTTP/1.0", "other.test"},
        {"OtherHostNamedPort", "http://other.test:8080/x", "GET /x HTTP/1.0", "other.test:8080"},
        {"NamedDefaultPort", "https://other.test:443/y", "GET /y HTTP/1.0", "other.test"},
        {"SchemeRelative", "//sr.test/z", "GET /z HTTP/1.0", "sr.test"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TRelocatingCli cli;
        SystemSettings(cli, "http://h.test:8443/dir/page");
        cli.BeginResponse("http://h.test:8443/dir/page");
        cli.Feed("HTTP/1.0 301 Moved\r\nLocation: " + c.Location + "\r\n\r\n");
        cli.CloseFromServer(0);
        ASSERT_EQ(cli.Opened, 1);
        const QByteArray request = cli.RequestBytes();
        EXPECT_TRUE(request.startsWith(c.RequestLine + "\r\n")) << request.constData();
        EXPECT_TRUE(request.contains("\r\nHost: " + c.Host + "\r\n")) << request.constData();
    }
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
    cli.BeginResponse();
    try {
        cli.Get();
        FAIL() << "accepted";
    } catch (const EHttpException& e) {
        EXPECT_EQ(e.Message(), "HTTP component  is busy");
        EXPECT_EQ(e.ErrorCode(), 1);
    }
    EXPECT_EQ(cli.State(), httpWaitingHeader);
}

} // namespace
