#include "fetch/http_cli.h"
#include "fetch/ssl_context.h"
#include "fetch/ssl_http_cli.h"
#include "platform/event_queue.h"
#include "platform/process_state.h"
#include "platform/tick_count.h"
#include "tests/fetch/socket_recorder.h"
#include "tests/qt_print.h"
#include "tests/support/case_name.h"
#include "testsite/body_coding.h"
#include "testsite/scripted_server.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

QString Url(const TScriptedServer& server, const QString& path = "/", const char* scheme = "http") {
    return QString(scheme) + "://127.0.0.1:" + server.PortText() + path;
}

QByteArray Ok(const QByteArray& body, const QByteArray& extra = "") {
    return "HTTP/1.1 200 OK\r\n" + extra + "Content-Length: " + QByteArray::number(body.size()) +
           "\r\n\r\n" + body;
}

// The requests the server read (an exchange cut short by the client's close reads
// nothing and is left out).
QList<QByteArray> SentRequests(const TScriptedServer& server) {
    QList<QByteArray> requests = server.Requests();
    requests.removeAll(QByteArray());
    return requests;
}

// A client with the system's settings, writing into its own body buffer.
template <class TClient = THttpCli> struct TClientRig {
    TMemoryStream Body;
    TClient Cli;
    TClientRig() {
        Cli.Request.Accept = "text/html, */*";
        Cli.Request.Agent = "Agent/1";
        Cli.Request.Timeout = 120;
        Cli.SetOptions({httpoEnableContentCoding});
        Cli.SetRcvdStream(&Body);
    }
    // Runs Get; returns the raised error code, or -1 when Get returned normally.
    int Get(const QString& url) {
        Cli.Request.URL = url;
        Cli.Request.Reference = url;
        try {
            Cli.Get();
            return -1;
        } catch (const EHttpException& e) {
            EXPECT_EQ(e.Message(), Cli.ReasonPhrase());
            return e.ErrorCode();
        }
    }
};

TEST(HttpClient, SendsTheSystemRequestInOneSend) {
    TScriptedServer server;
    server.SetScripts({TConnectionScript::Reply(Ok("<html></html>"))});
    TClientRig rig;
    const QString url = Url(server, "/city/rubric?page=2");
    EXPECT_EQ(rig.Get(url), -1);
    EXPECT_EQ(
        SentRequests(server).value(0),
        "GET /city/rubric?page=2 HTTP/1.0\r\nAccept: text/html, */*\r\nReferer: " + url.toUtf8() +
            "\r\nAccept-Encoding: gzip, deflate, br\r\nUser-Agent: Agent/1\r\nHost: "
            "127.0.0.1:" +
            server.PortText().toUtf8() + "\r\n\r\n");
    EXPECT_EQ(rig.Body.Data(), "<html></html>");
    EXPECT_EQ(rig.Cli.State(), httpReady);
}

struct TStatusCase {
    QByteArray Response;
    int Raised; // -1: Get returns
    int Status;
};

class StatusOutcomeTable : public testing::TestWithParam<TStatusCase> {};

TEST_P(StatusOutcomeTable, RaisesFrom400Except401And407) {
    TScriptedServer server;
    server.SetScripts({TConnectionScript::Reply(GetParam().Response)});
    TClientRig rig;
    EXPECT_EQ(rig.Get(Url(server)), GetParam().Raised);
    EXPECT_EQ(rig.Cli.StatusCode(), GetParam().Status);
    EXPECT_EQ(rig.Body.Data(), "body"); // kept whatever the status
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, StatusOutcomeTable,
    testing::Values(
        TStatusCase{"HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\n\r\nbody", 404, 404},
        TStatusCase{"HTTP/1.1 401 Unauthorized\r\nContent-Length: 4\r\n\r\nbody", -1, 401},
        TStatusCase{"HTTP/1.1 407 Proxy\r\nContent-Length: 4\r\n\r\nbody", -1, 407},
        TStatusCase{"HTTP/1.1 500 \r\nContent-Length: 4\r\n\r\nbody", 500, 500},
        TStatusCase{"HTTP/1.1 399 Odd\r\nContent-Length: 4\r\n\r\nbody", -1, 399},
        TStatusCase{"HTTP/1.0 200 OK\r\n\r\nbody", -1, 200}));

struct TCloseCase {
    const char* Name;
    QByteArray Sent;
    TConnectionEnd End;
    int Raised;
    QString Reason;
    QByteArray Body;
};

class CloseStageTable : public testing::TestWithParam<TCloseCase> {};

TEST_P(CloseStageTable, EndsTheRequestAsTheStageDemands) {
    const TCloseCase& c = GetParam();
    TScriptedServer server;
    server.SetScripts({TConnectionScript::Reply(c.Sent, c.End)});
    TClientRig rig;
    rig.Cli.Request.Timeout = 1;
    EXPECT_EQ(rig.Get(Url(server)), c.Raised);
    EXPECT_EQ(rig.Cli.ReasonPhrase(), c.Reason);
    EXPECT_EQ(rig.Body.Data(), c.Body);
}

INSTANTIATE_TEST_SUITE_P(
    Closes, CloseStageTable,
    testing::Values(
        TCloseCase{"NothingSent", "", TConnectionEnd::Close, 9,
                   "HTTP no status code (connection closed prematurely)", ""},
        TCloseCase{"ResetBeforeAnything", "", TConnectionEnd::Reset, 10054, "", ""},
        TCloseCase{"InsideStatusLine", "HTTP/1.1 200", TConnectionEnd::Close, 9,
                   "HTTP no status code (connection closed prematurely)", ""},
        TCloseCase{"InsideHeader", "HTTP/1.1 200 OK\r\nContent-Length: 9\r\n",
                   TConnectionEnd::Close, 9, "HTTP no status code (connection closed prematurely)",
                   ""},
        TCloseCase{"InsideBody", "HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nabc",
                   TConnectionEnd::Close, -1, "OK", "abc"},
        TCloseCase{"InsideChunks",
                   "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n5\r\nde",
                   TConnectionEnd::Close, -1, "OK", "abcde"},
        TCloseCase{"HeaderlessPage", "<!DOCTYPE html>\n<html></html>", TConnectionEnd::Close, 9,
                   "HTTP no status code (connection closed prematurely)", "<html></html>"}),
    CaseName);

struct TReuseCase {
    const char* Name;
    QByteArray Extra; // header lines of each response
    QString RequestVer;
    int Connections;
};

class KeepAliveTable : public testing::TestWithParam<TReuseCase> {};

TEST_P(KeepAliveTable, SecondGetReusesAKeptConnection) {
    const TReuseCase& c = GetParam();
    TScriptedServer server;
    TConnectionScript script;
    script.Exchanges = {TExchange{TReadMode::RequestHead, {Ok("one", c.Extra)}, 0},
                        TExchange{TReadMode::RequestHead, {Ok("two", c.Extra)}, 0}};
    script.End = TConnectionEnd::KeepOpen;
    server.SetScripts({script});
    TClientRig rig;
    rig.Cli.Request.SetRequestVer(c.RequestVer);
    EXPECT_EQ(rig.Get(Url(server, "/a")), -1);
    EXPECT_EQ(rig.Get(Url(server, "/b")), -1);
    // A new connection plays the script from its start again.
    EXPECT_EQ(rig.Body.Data(), c.Connections == 1 ? "onetwo" : "oneone");
    EXPECT_EQ(server.Connections(), c.Connections);
}

INSTANTIATE_TEST_SUITE_P(
    Reuse, KeepAliveTable,
    testing::Values(TReuseCase{"Http10KeepAlive", "Connection: keep-alive\r\n", "1.0", 1},
                    TReuseCase{"Http10Plain", "", "1.0", 2}, TReuseCase{"Http11", "", "1.1", 1},
                    TReuseCase{"Http11Close", "Connection: close\r\n", "1.1", 2}),
    CaseName);

// ---- one client, many responses --------------------------------------------------

QByteArray Gzipped(const QByteArray& status, const QByteArray& body, const QByteArray& extra = "") {
    const QByteArray coded = Deflate(body, TDeflateFormat::Gzip);
    return "HTTP/1.1 " + status + "\r\nContent-Encoding: gzip\r\n" + extra +
           "Content-Length: " + QByteArray::number(coded.size()) + "\r\n\r\n" + coded;
}

const QByteArray KeepAlive = "Connection: keep-alive\r\n";
const QByteArray EmptyChunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n";
const QByteArray ErrorPage = "<html><body>Ошибка сервера</body></html>";
const QByteArray Moved = "<html><body>Страница переехала</body></html>";

struct TSequenceCase {
    const char* Name;
    QList<QList<QByteArray>> Connections; // the replies of each connection in turn
    QList<int> Statuses;                  // one Get each
    QList<QByteArray> Bodies;
};

class ResponseSequenceTable : public testing::TestWithParam<TSequenceCase> {};

// Every response starts with fresh decoding: what an earlier response (a failed
// attempt, a relocation) decoded never comes back as a later page, whatever the
// later one's framing.
TEST_P(ResponseSequenceTable, EachGetHoldsOnlyItsOwnBody) {
    const TSequenceCase& c = GetParam();
    QList<TConnectionScript> scripts;
    for (const QList<QByteArray>& replies : c.Connections) {
        TConnectionScript script{false, {}, TConnectionEnd::KeepOpen};
        for (const QByteArray& reply : replies)
            script.Exchanges.append({TReadMode::RequestHead, {reply}, 0});
        scripts.append(script);
    }
    TScriptedServer server;
    server.SetScripts(scripts);
    TClientRig rig;
    for (int i = 0; i < c.Statuses.size(); ++i) {
        TMemoryStream body;
        rig.Cli.SetRcvdStream(&body);
        rig.Get(Url(server, "/p" + QString::number(i)));
        EXPECT_EQ(rig.Cli.StatusCode(), c.Statuses[i]) << "Get " << i;
        EXPECT_EQ(body.Data(), c.Bodies[i]) << "Get " << i;
    }
    rig.Cli.SetRcvdStream(nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, ResponseSequenceTable,
    testing::Values(
        TSequenceCase{"GzipErrorThenEmptyChunked",
                      {{Gzipped("500 Internal Server Error", ErrorPage)}, {EmptyChunked}},
                      {500, 200},
                      {ErrorPage, ""}},
        TSequenceCase{"GzipThenEmptyChunkedOnTheKeptConnection",
                      {{Gzipped("200 OK", ErrorPage, KeepAlive), EmptyChunked}},
                      {200, 200},
                      {ErrorPage, ""}},
        TSequenceCase{
            "GzipThenLengthZero",
            {{Gzipped("200 OK", ErrorPage)}, {"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"}},
            {200, 200},
            {ErrorPage, ""}},
        TSequenceCase{"GzipThenNoContent",
                      {{Gzipped("200 OK", ErrorPage)}, {"HTTP/1.1 204 No Content\r\n\r\n"}},
                      {200, 204},
                      {ErrorPage, ""}},
        TSequenceCase{"GzipRelocationToEmptyChunked",
                      {{Gzipped("302 Found", Moved, "Location: /next\r\n")}, {EmptyChunked}},
                      {200},
                      {""}},
        TSequenceCase{
            "GzipRelocationToEmptyChunkedOnTheKeptConnection",
            {{Gzipped("301 Moved", Moved, "Location: /next\r\n" + KeepAlive), EmptyChunked}},
            {200},
            {""}},
        TSequenceCase{
            "GzipRelocationThenGzipPage",
            {{Gzipped("302 Found", Moved, "Location: /next\r\n")}, {Gzipped("200 OK", ErrorPage)}},
            {200},
            {ErrorPage}}),
    CaseName);

struct TChainCase {
    int Relocations;
    bool KeepAlive;
};

class RelocationChainTable : public testing::TestWithParam<TChainCase> {};

// Each response but the last sends the client one step further; at most five
// relocations are followed, and the sixth response is then the result.
TEST_P(RelocationChainTable, FollowsAtMostFive) {
    const TChainCase& c = GetParam();
    const QByteArray keep = c.KeepAlive ? "Connection: keep-alive\r\n" : "";
    QList<TExchange> exchanges;
    for (int step = 1; step <= c.Relocations; ++step)
        exchanges.append({TReadMode::RequestHead,
                          {"HTTP/1.1 302 Found\r\nLocation: /step" + QByteArray::number(step) +
                           "\r\n" + keep + "Content-Length: 5\r\n\r\nmoved"},
                          0});
    exchanges.append({TReadMode::RequestHead, {Ok("final", keep)}, 0});
    QList<TConnectionScript> scripts;
    if (c.KeepAlive) {
        scripts.append({false, exchanges, TConnectionEnd::KeepOpen});
    } else {
        for (const TExchange& exchange : exchanges)
            scripts.append({false, {exchange}, TConnectionEnd::Close});
    }
    TScriptedServer server;
    server.SetScripts(scripts);
    TClientRig rig;
    EXPECT_EQ(rig.Get(Url(server, "/start")), -1);
    const int followed = std::min(c.Relocations, 5);
    EXPECT_EQ(rig.Cli.StatusCode(), c.Relocations > 5 ? 302 : 200);
    EXPECT_EQ(rig.Body.Data(), c.Relocations > 5 ? "moved" : "final");
    // Location names the target of the last Location line, followed or not.
    EXPECT_EQ(rig.Cli.Response().Location,
              "http://127.0.0.1/step" + QString::number(c.Relocations));
    EXPECT_EQ(rig.Cli.LocationChangeCurCount(), c.Relocations);
    EXPECT_EQ(SentRequests(server).size(), followed + 1);
    EXPECT_EQ(server.Connections(), c.KeepAlive ? 1 : followed + 1);
}

INSTANTIATE_TEST_SUITE_P(Chains, RelocationChainTable,
                         testing::Values(TChainCase{1, false}, TChainCase{2, false},
                                         TChainCase{5, false}, TChainCase{6, false},
                                         TChainCase{1, true}, TChainCase{3, true},
                                         TChainCase{6, true}));

struct TLocationCase {
    const char* Name;
    QByteArray Location; // "{port}" stands for the server's port
    QByteArray SecondRequestLine;
    QByteArray SecondHost; // the second request's Host value; "{port}" as above
    int Connections;
};

class LocationKindTable : public testing::TestWithParam<TLocationCase> {};

TEST_P(LocationKindTable, RequestsTheResolvedTarget) {
    const TLocationCase& c = GetParam();
    TScriptedServer server;
    QByteArray location = c.Location;
    location.replace("{port}", server.PortText().toUtf8());
    const QByteArray keep = "Connection: keep-alive\r\n";
    TConnectionScript script;
    script.Exchanges = {
        TExchange{TReadMode::RequestHead,
                  {"HTTP/1.1 301 Moved\r\nLocation: " + location + "\r\n" + keep + "\r\n"},
                  0},
        TExchange{TReadMode::RequestHead, {Ok("there", keep)}, 0}};
    script.End = TConnectionEnd::KeepOpen;
    server.SetScripts({script, TConnectionScript::Reply(Ok("there"))});
    TClientRig rig;
    EXPECT_EQ(rig.Get(Url(server, "/dir/page?x=1")), -1);
    EXPECT_EQ(rig.Body.Data(), "there");
    const QList<QByteArray> requests = SentRequests(server);
    ASSERT_EQ(requests.size(), 2);
    EXPECT_TRUE(requests[1].startsWith(c.SecondRequestLine)) << requests[1].constData();
    QByteArray host = c.SecondHost;
    host.replace("{port}", server.PortText().toUtf8());
    EXPECT_TRUE(requests[1].contains("\r\nHost: " + host + "\r\n")) << requests[1].constData();
    EXPECT_EQ(server.Connections(), c.Connections);
}

INSTANTIATE_TEST_SUITE_P(
    Locations, LocationKindTable,
    testing::Values(TLocationCase{"Relative", "next?y=2", "GET /dir/next?y=2 HTTP/1.0\r\n",
                                  "127.0.0.1:{port}", 1},
                    TLocationCase{"RootRelative", "/top", "GET /top HTTP/1.0\r\n",
                                  "127.0.0.1:{port}", 1},
                    TLocationCase{"AbsoluteSameTarget", "http://127.0.0.1:{port}/abs",
                                  "GET /abs HTTP/1.0\r\n", "127.0.0.1:{port}", 1},
                    TLocationCase{"SchemeRelative", "//127.0.0.1:{port}/sr", "GET /sr HTTP/1.0\r\n",
                                  "127.0.0.1:{port}", 1},
                    TLocationCase{"OtherHostName", "http://localhost:{port}/other",
                                  "GET /other HTTP/1.0\r\n", "localhost:{port}", 2}),
    CaseName);

TEST(HttpClient, RefusedPort) {
    TClientRig rig;
    EXPECT_EQ(rig.Get("http://127.0.0.1:" + UnusedPort() + "/"), 10061);
    EXPECT_EQ(rig.Cli.ReasonPhrase(), "Winsock - Connection refused (Error #10061)");
    EXPECT_EQ(rig.Cli.StatusCode(), 404);
}

TEST(HttpClient, UnknownHost) {
    TClientRig rig;
    EXPECT_NE(rig.Get("http://no-such-host.invalid/"), -1);
    EXPECT_EQ(rig.Cli.ReasonPhrase(), "can't resolve hostname to IP address");
    EXPECT_EQ(rig.Cli.StatusCode(), 404);
}

// After a time-out the next Get on the same client runs normally, and the notices
// the aborted request left behind do not end it early.
TEST(HttpClient, TimeoutThenSecondGetRunsNormally) {
    TScriptedServer server;
    TExchange slow{
        TReadMode::RequestHead, {"HTTP/1.1 200 OK\r\n", "Content-Length: 2\r\n\r\nok"}, 300};
    server.SetScripts({TConnectionScript::Silent(), {false, {slow}, TConnectionEnd::Close}});
    TClientRig rig;
    rig.Cli.Request.Timeout = 1;
    EXPECT_EQ(rig.Get(Url(server)), 8);
    EXPECT_EQ(rig.Cli.ReasonPhrase(), "Request aborted on timeout");
    EXPECT_EQ(rig.Cli.StatusCode(), 404);
    EXPECT_EQ(rig.Cli.State(), httpReady);
    EXPECT_EQ(rig.Get(Url(server)), -1);
    EXPECT_EQ(rig.Cli.StatusCode(), 200);
    EXPECT_EQ(rig.Body.Data(), "ok");
}

TEST(HttpClient, SecondGetAfterRefusal) {
    TScriptedServer server;
    server.SetScripts({TConnectionScript::Reply(Ok("fine"))});
    TClientRig rig;
    EXPECT_EQ(rig.Get("http://127.0.0.1:" + UnusedPort() + "/"), 10061);
    EXPECT_EQ(rig.Get(Url(server)), -1);
    EXPECT_EQ(rig.Body.Data(), "fine");
}

TEST(HttpClient, DecoderFailureAbortsTheRequest) {
    const QByteArray gz = Deflate(SampleHtml(50000), TDeflateFormat::Gzip);
    TScriptedServer server;
    server.SetScripts(
        {TConnectionScript::Reply(Ok(gz.left(gz.size() / 2), "Content-Encoding: gzip\r\n"))});
    TClientRig rig;
    EXPECT_EQ(rig.Get(Url(server)), 3);
    EXPECT_EQ(rig.Cli.ReasonPhrase(), "Connection aborted on request");
    EXPECT_EQ(rig.Cli.StatusCode(), 404);
}

TEST(HttpClient, TerminatingProcessAbortsTheWait) {
    TScriptedServer server;
    server.SetScripts({TConnectionScript::Silent()});
    TClientRig rig;
    TEventQueue::ForThisThread().Post([] { SetApplicationTerminating(true); });
    const int raised = rig.Get(Url(server));
    SetApplicationTerminating(false);
    EXPECT_EQ(raised, 3);
    EXPECT_EQ(rig.Cli.ReasonPhrase(), "Request aborted");
}

// ---- over TLS ------------------------------------------------------------------

TEST(HttpsClient, GzipPageOverTls) {
    const QByteArray page = SampleHtml(60000);
    TScriptedServer server({.Tls = true});
    server.SetScripts({TConnectionScript::Reply(
        Ok(Deflate(page, TDeflateFormat::Gzip), "Content-Encoding: gzip\r\n"))});
    TSslContext context;
    TClientRig<TSslHttpCli> rig;
    rig.Cli.SslContext = &context;
    EXPECT_EQ(rig.Get(Url(server, "/p", "https")), -1);
    EXPECT_EQ(rig.Body.Data(), page);
    EXPECT_EQ(rig.Cli.ContentEncoding(), "gzip");
    EXPECT_EQ(server.SniName(), "127.0.0.1");
}

TEST(HttpsClient, BodyToCloseWithoutTlsCloseNotice) {
    TScriptedServer server({.Tls = true});
    server.SetScripts({TConnectionScript::Reply("HTTP/1.0 200 OK\r\n\r\nto the end",
                                                TConnectionEnd::CloseWithoutNotify)});
    TSslContext context;
    TClientRig<TSslHttpCli> rig;
    rig.Cli.SslContext = &context;
    EXPECT_EQ(rig.Get(Url(server, "/", "https")), -1);
    EXPECT_EQ(rig.Body.Data(), "to the end");
}

struct TLargeBodyCase {
    const char* Name;
    bool Tls;
    bool Gzip;
    bool Length; // with Content-Length, else the body runs to the close
    TConnectionEnd End;
};

class LargeBodyTable : public testing::TestWithParam<TLargeBodyCase> {};

// A server that ends the connection right after the last bytes of a body much larger
// than one read of the client (a web server answering HTTP/1.0 sends its last records,
// its TLS close notice and its FIN together): every byte of the body is read before
// the close is.
TEST_P(LargeBodyTable, EveryByteBeforeTheCloseReachesTheBody) {
    const TLargeBodyCase& c = GetParam();
    const QByteArray page = SampleHtml(300000);
    const QByteArray body = c.Gzip ? Deflate(page, TDeflateFormat::Gzip) : page;
    const QByteArray head =
        "HTTP/1.1 200 OK\r\n" + QByteArray(c.Gzip ? "Content-Encoding: gzip\r\n" : "") +
        (c.Length ? "Content-Length: " + QByteArray::number(body.size()) + "\r\n" : QByteArray()) +
        "\r\n";
    TScriptedServer server({.Tls = c.Tls});
    server.SetScripts({TConnectionScript::Reply(head + body, c.End)});
    TSslContext context;
    TClientRig<TSslHttpCli> rig;
    rig.Cli.SslContext = &context;
    EXPECT_EQ(rig.Get(Url(server, "/", c.Tls ? "https" : "http")), -1);
    EXPECT_EQ(rig.Body.Data().size(), page.size());
    EXPECT_TRUE(rig.Body.Data() == page);
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, LargeBodyTable,
    testing::Values(TLargeBodyCase{"TlsPlainToClose", true, false, false, TConnectionEnd::Close},
                    TLargeBodyCase{"TlsGzipToClose", true, true, false, TConnectionEnd::Close},
                    TLargeBodyCase{"TlsPlainWithLength", true, false, true, TConnectionEnd::Close},
                    TLargeBodyCase{"TlsGzipWithoutNotify", true, true, false,
                                   TConnectionEnd::CloseWithoutNotify},
                    TLargeBodyCase{"PlainToClose", false, false, false, TConnectionEnd::Close},
                    TLargeBodyCase{"PlainGzipToClose", false, true, false, TConnectionEnd::Close},
                    TLargeBodyCase{"PlainGzipWithLength", false, true, true,
                                   TConnectionEnd::Close}),
    CaseName);

// ---- bounds a response must keep --------------------------------------------

QByteArray BigHeaderLines(int lines) {
    QByteArray header = "HTTP/1.1 200 OK\r\n";
    for (int i = 1; i < lines; ++i)
        header += "X-Line-" + QByteArray::number(i) + ": value\r\n";
    return header;
}

// A coded body that decodes to far more than the bound: zeros compress a
// thousandfold.
QByteArray ZeroBomb(TDeflateFormat format) {
    return Deflate(QByteArray(MaxResponseBodyBytes + (16 << 20), '\0'), format);
}

struct TBoundCase {
    const char* Name;
    std::function<QByteArray()> Reply;
    int Raised;
    QString Reason;
};

class ResponseBoundTable : public testing::TestWithParam<TBoundCase> {};

// A server that sends more than a response may hold fails the request as soon as it
// crosses the bound, and no more than the bound reaches the body.
TEST_P(ResponseBoundTable, CrossingTheBoundFailsTheRequest) {
    TScriptedServer server;
    server.SetScripts({TConnectionScript::Reply(GetParam().Reply())});
    TClientRig rig;
    EXPECT_EQ(rig.Get(Url(server)), GetParam().Raised);
    EXPECT_EQ(rig.Cli.ReasonPhrase(), GetParam().Reason);
    EXPECT_EQ(rig.Cli.StatusCode(), 404);
    EXPECT_LE(rig.Body.Size(), MaxResponseBodyBytes);
    EXPECT_EQ(rig.Cli.State(), httpReady);
}

INSTANTIATE_TEST_SUITE_P(
    Bounds, ResponseBoundTable,
    testing::Values(
        TBoundCase{
            "HeaderOverOneMebibyte",
            [] { return "HTTP/1.1 200 OK\r\nX-Big: " + QByteArray(1100000, 'b') + "\r\n\r\n"; }, 10,
            "Response header larger than 1 MiB"},
        TBoundCase{"HeaderOverThousandLines", [] { return BigHeaderLines(1001) + "\r\nok"; }, 10,
                   "Response header longer than 1000 lines"},
        TBoundCase{"PlainBodyWithLength",
                   [] {
                       const int64_t size = MaxResponseBodyBytes + 1;
                       return Ok(QByteArray(size, 'x'));
                   },
                   11, "Response body larger than 64 MiB"},
        TBoundCase{
            "PlainBodyToTheClose",
            [] { return "HTTP/1.0 200 OK\r\n\r\n" + QByteArray(MaxResponseBodyBytes + 1, 'x'); },
            11, "Response body larger than 64 MiB"},
        TBoundCase{"GzipBomb",
                   [] { return Ok(ZeroBomb(TDeflateFormat::Gzip), "Content-Encoding: gzip\r\n"); },
                   11, "Response body larger than 64 MiB"},
        TBoundCase{"DeflateBombToTheClose",
                   [] {
                       return "HTTP/1.0 200 OK\r\nContent-Encoding: deflate\r\n\r\n" +
                              ZeroBomb(TDeflateFormat::Zlib);
                   },
                   11, "Response body larger than 64 MiB"},
        TBoundCase{"FiveCodings",
                   [] { return Ok("plain", "Content-Encoding: gzip, *, *, *, identity\r\n"); }, 10,
                   "Content-Encoding lists more than 4 codings"}),
    CaseName);

// The clock moves ten seconds at every reading, so a reply that trickles in over a
// moment of real time takes hours by the client's clock, while no gap between two
// of its bytes comes near the inactivity limit.
TEST(HttpClient, TricklingServerIsCutOffAfterTenMinutes) {
    TExchange trickle{TReadMode::RequestHead, {"HTTP/1.0 200 OK\r\n\r\n"}, 5};
    for (int i = 0; i < 400; ++i)
        trickle.Reply.append("x");
    TScriptedServer server;
    server.SetScripts({{false, {trickle}, TConnectionEnd::Close}});
    std::atomic<uint32_t> now{1000};
    SetTickSourceForTests([&] { return now.fetch_add(10000); });
    struct TRealTicksAtEnd {
        ~TRealTicksAtEnd() { SetTickSourceForTests({}); }
    } restore;
    TClientRig rig;
    EXPECT_EQ(rig.Get(Url(server)), 12);
    EXPECT_EQ(rig.Cli.ReasonPhrase(), "Request took longer than 10 minutes");
    EXPECT_GT(rig.Body.Size(), 0);
    EXPECT_LT(rig.Body.Size(), 400);
}

struct THandshakeCase {
    const char* Name;
    bool ServerTls;
    TConnectionScript Script;
    QString Reason;
};

class HandshakeFailureTable : public testing::TestWithParam<THandshakeCase> {};

TEST_P(HandshakeFailureTable, FailsWithTheHandshakeText) {
    const THandshakeCase& c = GetParam();
    TScriptedServer server({.Tls = c.ServerTls});
    server.SetScripts({c.Script});
    TSslContext context;
    TClientRig<TSslHttpCli> rig;
    rig.Cli.SslContext = &context;
    rig.Cli.Request.Timeout = 5;
    EXPECT_NE(rig.Get(Url(server, "/", "https")), -1);
    EXPECT_EQ(rig.Cli.ReasonPhrase(), c.Reason);
    EXPECT_EQ(rig.Cli.StatusCode(), 404);
}

INSTANTIATE_TEST_SUITE_P(
    Handshakes, HandshakeFailureTable,
    testing::Values(
        THandshakeCase{"PlainServer",
                       false,
                       {false,
                        {TExchange{TReadMode::AnyBytes,
                                   {"HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n"},
                                   0}},
                        TConnectionEnd::Close},
                       "SSL handshake failed - Error, wrong SSL version"},
        THandshakeCase{"CloseDuringHandshake",
                       true,
                       {true, {}, TConnectionEnd::Close},
                       "SSL handshake failed - Error, connection closed unexpectedly"},
        // A close notice instead of a server hello, the connection left
        // open: the request ends at once, not at the time-out.
        THandshakeCase{
            "CloseNoticeDuringHandshake",
            false,
            {false,
             {TExchange{TReadMode::AnyBytes, {QByteArray("\x15\x03\x03\x00\x02\x01\x00", 7)}, 0}},
             TConnectionEnd::KeepOpen},
            "SSL handshake failed - Error, connection closed unexpectedly"}),
    CaseName);

TEST(HttpsClient, MissingKeyFileAbortsEveryAttempt) {
    TScriptedServer server({.Tls = true});
    server.SetScripts({TConnectionScript::Reply(Ok("x"))});
    TSslContext context;
    context.SetSslPrivKeyFile("no-such-key-file.pem");
    TClientRig<TSslHttpCli> rig;
    rig.Cli.SslContext = &context;
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_EQ(rig.Get(Url(server, "/", "https")), 3);
        EXPECT_EQ(rig.Cli.ReasonPhrase(), "Connection aborted on request");
    }
}

} // namespace
