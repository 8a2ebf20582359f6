#include "tests/fetch/http_feed_rig.h"
#include "tests/qt_print.h"
#include "tests/support/case_name.h"
#include "testsite/body_coding.h"

#include <gtest/gtest.h>

#include <random>

namespace {

QList<int> Whole(const QByteArray& r) {
    return {int(r.size())};
}

struct TResponseCase {
    const char* Name;
    QByteArray Response;
    bool ServerCloses;
    // What the response must leave behind.
    bool Ready;
    int Status;
    QString Reason;
    int Error;
    QByteArray Body;
};

const QByteArray kGzipped = Deflate("<html>decoded page</html>", TDeflateFormat::Gzip);

const TResponseCase kResponses[] = {
    {"ContentLengthEndsBodyWithoutClose", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhelloEXTRA",
     false, true, 200, "OK", 0, "hello"},
    {"NotFoundKeepsBody", "HTTP/1.0 404 Not Found\r\nContent-Length: 3\r\n\r\nabc", false, true,
     404, "Not Found", 0, "abc"},
    {"BodyRunsToClose", "HTTP/1.0 200 OK\nServer: x\n\nbody\nuntil close", true, true, 200, "OK", 0,
     "body\nuntil close"},
    {"CloseBeforeContentLengthIsNormalEnd", "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nshort",
     true, true, 200, "OK", 0, "short"},
    {"Chunked",
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5;name=val\r\nhello\r\nA\r\n0123456789"
     "\r\n0\r\nX-Trailer: t\r\n\r\n",
     false, true, 200, "OK", 0, "hello0123456789"},
    {"ChunkedUpperHexBareLf",
     "HTTP/1.1 200 OK\nTransfer-Encoding: CHUNKED\n\n1A\nabcdefghijklmnopqrstuvwxyz\n0\n\n", false,
     true, 200, "OK", 0, "abcdefghijklmnopqrstuvwxyz"},
    {"ContinueIsForgotten",
     "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 201 Created\r\nContent-Length: 2\r\n\r\nok", false,
     true, 201, "Created", 0, "ok"},
    {"OtherVersionNotParsed", "HTTP/2 200 OK\r\nContent-Length: 2\r\n\r\nok", false, true, 0, "", 0,
     "ok"},
    {"OtherVersionWithoutLengthHasNoBody", "HTTP/2 200 OK\r\n\r\n", true, true, 0,
     "HTTP no status code (connection closed prematurely)", 9, ""},
    {"NoContentWaitsForClose", "HTTP/1.1 204 No Content\r\n\r\n", true, true, 204, "No Content", 0,
     ""},
    {"HeaderlessDoctype", "<!doctype html>\n<p>one</p>\n<p>two", true, true, 0,
     "HTTP no status code (connection closed prematurely)", 9, "<p>one</p>\n<p>two"},
    {"HeaderlessHtml", "<HtMl>\nrest", true, true, 0,
     "HTTP no status code (connection closed prematurely)", 9, "rest"},
    {"NothingReceived", "", true, true, 0, "HTTP no status code (connection closed prematurely)", 9,
     ""},
    {"HeaderCutByCloseEndsAtOnce", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n", true, true, 0,
     "HTTP no status code (connection closed prematurely)", 9, ""},
    {"StatusLineCutByClose", "HTTP/1.1 200 O", true, true, 0,
     "HTTP no status code (connection closed prematurely)", 9, ""},
    {"GzipBodyDecoded",
     "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: " +
         QByteArray::number(kGzipped.size()) + "\r\n\r\n" + kGzipped,
     false, true, 200, "OK", 0, "<html>decoded page</html>"},
    {"BadGzipAbortsRequest",
     "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: "
     "6\r\n\r\n\xff\xff\xff\xff\xff\xff",
     false, true, 404, "Connection aborted on request", 3, ""},
};

class ResponseTable : public testing::TestWithParam<TResponseCase> {};

TEST_P(ResponseTable, OnePieceGivesTheExpectedOutcome) {
    const TResponseCase& c = GetParam();
    const TFeedOutcome got = RunFeed(c.Response, Whole(c.Response), c.ServerCloses);
    EXPECT_EQ(got.Ready, c.Ready);
    EXPECT_EQ(got.Status, c.Status);
    EXPECT_EQ(got.Reason, c.Reason);
    EXPECT_EQ(got.Error, c.Error);
    EXPECT_EQ(got.Body, c.Body);
}

// Split at every byte offset, and one byte per read: the same outcome as one piece.
TEST_P(ResponseTable, EverySplitGivesTheSameOutcome) {
    const TResponseCase& c = GetParam();
    const TFeedOutcome whole = RunFeed(c.Response, Whole(c.Response), c.ServerCloses);
    for (int at = 1; at < c.Response.size(); ++at) {
        const QList<int> pieces{at, int(c.Response.size()) - at};
        ASSERT_EQ(RunFeed(c.Response, pieces, c.ServerCloses), whole) << "split at " << at;
    }
    const QList<int> bytes(c.Response.size(), 1);
    EXPECT_EQ(RunFeed(c.Response, bytes, c.ServerCloses), whole);
}

INSTANTIATE_TEST_SUITE_P(Responses, ResponseTable, testing::ValuesIn(kResponses), CaseName);

TEST(HttpResponse, StatusCodeAndPhrase) {
    const struct {
        QByteArray Line;
        int Status;
        QString Reason;
    } cases[] = {
        {"HTTP/1.1 200 OK", 200, "OK"},
        {"HTTP/1.0 404 Not Found", 404, "Not Found"},
        {"HTTP/1.1 301", 301, ""},
        {"HTTP/1.1   503   Busy now", 503, "  Busy now"},
        {"HTTP/1.1 2x0 Odd", 0, "Odd"},
        {"HTTP/1.1 OK", 0, ""},
        {"HTTP/1.12 200 OK", 200, "OK"},
        {"http/1.1 200 OK", 0, ""},
        {"HTTP/1.1 4040 Long", 404, " Long"},
        {"HTTP/1.1 503 " + QByteArray(200, 'x'), 503, QString(200, u'x')},
        {"HTTP/1.1 503 " + QByteArray(201, '\xe9'), 503, QString(200, QChar(0xe9))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Line.toStdString());
        const QByteArray response = c.Line + "\r\nContent-Length: 0\r\n\r\n";
        const TFeedOutcome got = RunFeed(response, Whole(response), false);
        EXPECT_EQ(got.Status, c.Status);
        EXPECT_EQ(got.Reason, c.Reason);
    }
}

TEST(HttpResponse, HeaderSetsItsResult) {
    const struct {
        QByteArray Line;
        QString ContentType;
        QString ContentEncoding;
        QString TransferEncoding;
        int64_t ContentLength;
    } cases[] = {
        {"Content-Type: Text/HTML; Charset=UTF-8", "text/html; charset=utf-8", "", "", -1},
        {"Content-Encoding: gzip ", "", "gzip ", "", -1},
        {"content-encoding:   ", "", " ", "", -1},
        {"Content-Encoding:", "", "", "", -1},
        {"CONTENT-LENGTH:  42 ", "", "", "", 42},
        {"Content-Length: 4x", "", "", "", -1},
        {"Content-Length: -5", "", "", "", -1},
        {"Content-Length: 99999999999999999999", "", "", "", -1},
        {"Transfer-Encoding: Chunked", "", "", "chunked", -1},
        {"X-Content-Type: text/plain", "", "", "", -1},
        {"a line without a colon", "", "", "", -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Line.toStdString());
        TFeedCli cli;
        cli.BeginResponse();
        cli.Feed("HTTP/1.1 200 OK\r\n" + c.Line + "\r\n\r\n");
        EXPECT_EQ(cli.Response().ContentType, c.ContentType);
        EXPECT_EQ(cli.ContentEncoding(), c.ContentEncoding);
        EXPECT_EQ(cli.Response().TransferEncoding, c.TransferEncoding);
        EXPECT_EQ(cli.Response().ContentLength, c.ContentLength);
        EXPECT_EQ(cli.RcvdHeader(), QStringList({"HTTP/1.1 200 OK", QString(c.Line)}));
    }
}

TEST(HttpResponse, DecidesWhetherTheConnectionStays) {
    const struct {
        QString RequestVer;
        QByteArray Response;
        bool CloseRequested;
    } cases[] = {
        {"1.0", "HTTP/1.1 200 OK", true},
        {"1.0", "HTTP/1.1 200 OK\r\nConnection:  Keep-Alive ", false},
        {"1.0", "HTTP/1.0 200 OK\r\nProxy-Connection: keep-alive", false},
        {"1.1", "HTTP/1.1 200 OK", false},
        {"1.1", "HTTP/1.0 200 OK", true},
        {"1.1", "HTTP/1.1 200 OK\r\nConnection: close", true},
        {"1.1", "HTTP/1.1 200 OK\r\nConnection: upgrade", false},
    };
    for (const auto& c : cases) {
        TFeedCli cli;
        cli.Request.SetRequestVer(c.RequestVer);
        cli.BeginResponse();
        cli.Feed(c.Response + "\r\nContent-Length: 1\r\n\r\n");
        EXPECT_EQ(cli.CloseRequested(), c.CloseRequested)
            << c.RequestVer.toStdString() << ": " << c.Response.toStdString();
    }
}

TEST(HttpResponse, OnlyTheBadVersionSettingIsRefused) {
    TFeedCli cli;
    try {
        cli.Request.SetRequestVer("2.0");
        FAIL() << "accepted";
    } catch (const EHttpException& e) {
        EXPECT_EQ(e.Message(), "Insupported HTTP version");
        EXPECT_EQ(e.ErrorCode(), 5);
    }
    EXPECT_EQ(cli.Request.RequestVer(), "1.0");
}

// A huge chunk size must not overflow; the body then simply runs to the close.
TEST(HttpResponse, OversizedChunkSizeIsHarmless) {
    const QByteArray response =
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + QByteArray(40, 'f') + "\r\nabc";
    const TFeedOutcome got = RunFeed(response, Whole(response), true);
    EXPECT_TRUE(got.Ready);
    EXPECT_EQ(got.Body, "abc");
}

// Whatever bytes arrive, in whatever pieces, the client neither crashes nor leaves
// the body longer than what was received, and a close ends every response whose
// header was complete.
TEST(HttpResponse, RandomBytesInRandomPiecesAreHandled) {
    std::mt19937 gen(20261209);
    const QByteArray alphabet = "HTTP/1.0 200\r\n:ContentLength-chunked0123456789abcdefxX<>!";
    for (int round = 0; round < 300; ++round) {
        QByteArray response(std::uniform_int_distribution<int>(0, 300)(gen), '\0');
        for (char& ch : response)
            ch = gen() % 4 == 0 ? char(gen()) : alphabet[gen() % alphabet.size()];
        if (round % 2 == 0)
            response.prepend("HTTP/1.1 200 OK\r\n");
        QList<int> pieces;
        for (int left = response.size(); left > 0;) {
            const int piece = std::min(left, std::uniform_int_distribution<int>(1, 40)(gen));
            pieces.append(piece);
            left -= piece;
        }
        const TFeedOutcome got = RunFeed(response, pieces, true);
        EXPECT_LE(got.Body.size(), response.size());
    }
}

// Property: random splits of valid responses give the outcome of one piece.
TEST(HttpResponse, RandomSplitsOfValidResponses) {
    std::mt19937 gen(4242);
    for (const TResponseCase& c : kResponses) {
        const TFeedOutcome whole = RunFeed(c.Response, Whole(c.Response), c.ServerCloses);
        for (int round = 0; round < 20; ++round) {
            QList<int> pieces;
            for (int left = c.Response.size(); left > 0;) {
                const int piece = std::min(left, std::uniform_int_distribution<int>(1, 12)(gen));
                pieces.append(piece);
                left -= piece;
            }
            ASSERT_EQ(RunFeed(c.Response, pieces, c.ServerCloses), whole) << c.Name;
        }
    }
}

} // namespace
