#include "fetch/http_response_reader.h"
#include "tests/qt_print.h"
#include "tests/support/case_name.h"

#include <gtest/gtest.h>

namespace {

// Everything a reader handed out for one response.
struct TReadLog {
    QList<QByteArray> Lines;
    QByteArray Body;
    int BodyPieces = 0;
    bool Ended = false;
    QString Limit; // the crossed bound's text

    bool operator==(const TReadLog& other) const {
        return Lines == other.Lines && Body == other.Body && Ended == other.Ended &&
               Limit == other.Limit;
    }
};

void PrintTo(const TReadLog& log, std::ostream* out) {
    *out << log.Lines.size() << " lines, body of " << log.Body.size() << " bytes"
         << (log.Ended ? ", ended" : "") << (log.Limit.isEmpty() ? "" : ", limit ")
         << log.Limit.toStdString();
}

// How the caller frames the body once the empty line has ended the header; the
// first `Interim` empty lines end interim headers (status 100) instead.
struct TFraming {
    THttpBodyFraming Kind = hbfToClose;
    int64_t Length = -1;
    int Interim = 0;
};

// Drives a reader the way a client does: lines until the empty one, then the body.
class TReadRig {
public:
    explicit TReadRig(TFraming framing) : FFraming(framing) {}
    THttpResponseReader Reader;
    TReadLog Log;

    void Feed(QByteArrayView piece) {
        Reader.Feed(piece);
        for (;;) {
            switch (Reader.Next()) {
            case hriNeedMore:
                return;
            case hriLine:
                if (Reader.Line().isEmpty() && FFraming.Interim-- <= 0)
                    Reader.StartBody(FFraming.Kind, FFraming.Length);
                else if (!Reader.Line().isEmpty())
                    Log.Lines.append(Reader.Line().toByteArray());
                break;
            case hriBody:
                Log.Body += Reader.Body();
                ++Log.BodyPieces;
                break;
            case hriBodyEnd:
                Log.Ended = true;
                break;
            case hriLimit:
                Log.Limit = Reader.Failure().Message();
                return;
            }
        }
    }

private:
    TFraming FFraming;
};

TReadLog ReadInPieces(const QByteArray& bytes, const QList<qsizetype>& cuts, TFraming framing) {
    TReadRig rig(framing);
    qsizetype at = 0;
    for (qsizetype cut : cuts) {
        rig.Feed(QByteArrayView(bytes).sliced(at, cut - at));
        at = cut;
    }
    rig.Feed(QByteArrayView(bytes).sliced(at));
    return rig.Log;
}

TReadLog ReadByteByByte(const QByteArray& bytes, TFraming framing) {
    TReadRig rig(framing);
    for (char c : bytes)
        rig.Feed(QByteArrayView(&c, 1));
    return rig.Log;
}

struct TReadCase {
    const char* Name;
    QByteArray Bytes;
    TFraming Framing;
    TReadLog Expected;
};

const TReadCase kReads[] = {
    {"LengthEndsTheBody",
     "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhelloEXTRA",
     {hbfLength, 5},
     {{"HTTP/1.1 200 OK", "Content-Length: 5"}, "hello", 0, true, ""}},
    {"BareLineFeedsAndAStrayCarriageReturn",
     "HTTP/1.0 200 OK\nA: b\r\r\n\nbody",
     {hbfToClose},
     {{"HTTP/1.0 200 OK", "A: b\r"}, "body", 0, false, ""}},
    {"ToCloseNeverEndsByItself",
     "HTTP/1.0 200 OK\r\n\r\nall\r\nof it",
     {hbfToClose},
     {{"HTTP/1.0 200 OK"}, "all\r\nof it", 0, false, ""}},
    {"ChunkedWithExtensionAndTrailer",
     "HTTP/1.1 200 OK\r\n\r\n5;name=v\r\nhello\r\nA\r\n0123456789\r\n0\r\nX-Trailer: t\r\n\r\nNEXT",
     {hbfChunked},
     {{"HTTP/1.1 200 OK"}, "hello0123456789", 0, true, ""}},
    {"ChunkedUpperHexBareLineFeeds",
     "HTTP/1.1 200 OK\n\n1A\nabcdefghijklmnopqrstuvwxyz\n0\n\n",
     {hbfChunked},
     {{"HTTP/1.1 200 OK"}, "abcdefghijklmnopqrstuvwxyz", 0, true, ""}},
    {"ChunkedCutShort",
     "HTTP/1.1 200 OK\r\n\r\n3\r\nabc\r\n5\r\nde",
     {hbfChunked},
     {{"HTTP/1.1 200 OK"}, "abcde", 0, false, ""}},
    {"HeaderNotEnded",
     "HTTP/1.1 200 OK\r\nContent-Le",
     {hbfToClose},
     {{"HTTP/1.1 200 OK"}, "", 0, false, ""}},
};

class ReadTable : public testing::TestWithParam<TReadCase> {};

TEST_P(ReadTable, OnePieceGivesTheExpectedItems) {
    EXPECT_EQ(ReadInPieces(GetParam().Bytes, {}, GetParam().Framing), GetParam().Expected);
}

// Split at every byte offset, and one byte per piece: the same items as one piece.
TEST_P(ReadTable, EverySplitGivesTheSameItems) {
    const TReadCase& c = GetParam();
    for (qsizetype at = 1; at < c.Bytes.size(); ++at)
        ASSERT_EQ(ReadInPieces(c.Bytes, {at}, c.Framing), c.Expected) << "split at " << at;
    for (qsizetype at = 1; at + 2 < c.Bytes.size(); ++at)
        ASSERT_EQ(ReadInPieces(c.Bytes, {at, at + 2}, c.Framing), c.Expected) << "cuts at " << at;
    EXPECT_EQ(ReadByteByByte(c.Bytes, c.Framing), c.Expected);
}

INSTANTIATE_TEST_SUITE_P(Reads, ReadTable, testing::ValuesIn(kReads), CaseName);

QByteArray HeaderOfLines(int lines) {
    QByteArray header = "HTTP/1.1 200 OK\r\n";
    for (int i = 1; i < lines; ++i)
        header += "X-Line-" + QByteArray::number(i) + ": v\r\n";
    return header + "\r\n";
}

// A status line and header lines of `bytes` bytes in all, their line ends included.
QByteArray HeaderOfBytes(qsizetype bytes) {
    const QByteArray start = "HTTP/1.1 200 OK\r\nX-Big: ";
    return start + QByteArray(bytes - start.size() - 2, 'b') + "\r\n";
}

struct TBoundCase {
    const char* Name;
    std::function<QByteArray()> Bytes;
    TFraming Framing;
    QString Limit; // empty: within the bounds
    qsizetype BodySize;
};

class BoundTable : public testing::TestWithParam<TBoundCase> {};

// Whole and one byte at a time: fed byte by byte, a header that was rescanned from
// its start on every read would take hours here instead of moments.
TEST_P(BoundTable, CrossingABoundFailsTheResponse) {
    const TBoundCase& c = GetParam();
    const QByteArray bytes = c.Bytes();
    for (const TReadLog& log :
         {ReadInPieces(bytes, {}, c.Framing), ReadByteByByte(bytes, c.Framing)}) {
        EXPECT_EQ(log.Limit, c.Limit);
        EXPECT_EQ(log.Body.size(), c.BodySize);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Bounds, BoundTable,
    testing::Values(
        TBoundCase{"ThousandLines", [] { return HeaderOfLines(1000) + "ok"; }, {}, "", 2},
        TBoundCase{"ThousandAndOneLines",
                   [] { return HeaderOfLines(1001) + "ok"; },
                   {},
                   "Response header longer than 1000 lines",
                   0},
        TBoundCase{"OneMebibyteOfHeader",
                   [] { return HeaderOfBytes(MaxResponseHeaderBytes - 2) + "\r\nok"; },
                   {},
                   "",
                   2},
        TBoundCase{"OneByteMore",
                   [] { return HeaderOfBytes(MaxResponseHeaderBytes - 1) + "\r\nok"; },
                   {},
                   "Response header larger than 1 MiB",
                   0},
        TBoundCase{
            "ALineThatNeverEnds",
            [] { return "HTTP/1.1 200 OK\r\nX: " + QByteArray(MaxResponseHeaderBytes, 'x'); },
            {},
            "Response header larger than 1 MiB",
            0},
        TBoundCase{"LinesOfAnInterimHeaderCountToo",
                   [] { return HeaderOfLines(600) + HeaderOfLines(600); },
                   {hbfToClose, -1, 1},
                   "Response header longer than 1000 lines",
                   0}),
    CaseName);

struct TBodyBoundCase {
    const char* Name;
    QByteArray Body;
    TFraming Framing;
    bool Crossed;
    qsizetype BodySize;
};

class BodyBoundTable : public testing::TestWithParam<TBodyBoundCase> {};

// The bound counts body bytes (chunk data only), whatever framing carries them, and
// hands out the bytes up to it.
TEST_P(BodyBoundTable, BodyBeyondTheBoundFails) {
    const TBodyBoundCase& c = GetParam();
    const QByteArray bytes = "HTTP/1.1 200 OK\r\n\r\n" + c.Body;
    for (bool byteByByte : {false, true}) {
        TReadRig rig(c.Framing);
        rig.Reader.BodyByteLimit = 10;
        if (byteByByte) {
            for (char ch : bytes)
                rig.Feed(QByteArrayView(&ch, 1));
        } else {
            rig.Feed(bytes);
        }
        EXPECT_EQ(!rig.Log.Limit.isEmpty(), c.Crossed) << rig.Log.Limit.toStdString();
        EXPECT_EQ(rig.Log.Body.size(), c.BodySize);
        if (c.Crossed) {
            EXPECT_EQ(rig.Log.Limit, "Response body larger than 64 MiB");
            EXPECT_EQ(rig.Reader.Failure().ErrorCode(), HttpBodyTooLargeError);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, BodyBoundTable,
    testing::Values(
        TBodyBoundCase{"ToCloseAtTheBound", "0123456789", {}, false, 10},
        TBodyBoundCase{"ToClosePastIt", "0123456789X", {}, true, 10},
        TBodyBoundCase{"LengthAtTheBound", "0123456789", {hbfLength, 10}, false, 10},
        TBodyBoundCase{"LengthPastIt", "0123456789X", {hbfLength, 11}, true, 10},
        TBodyBoundCase{"ChunkFramingDoesNotCount",
                       "5\r\n01234\r\n5\r\n56789\r\n0\r\n\r\n",
                       {hbfChunked},
                       false,
                       10},
        TBodyBoundCase{
            "ChunkDataPastIt", "5\r\n01234\r\n6\r\n56789X\r\n0\r\n\r\n", {hbfChunked}, true, 10}),
    CaseName);

// Body bytes come straight from the bytes as read: one piece per read, not one per
// byte or per line.
TEST(HttpResponseReader, BodyComesInThePiecesItArrivedIn) {
    TReadRig rig({hbfToClose});
    rig.Feed("HTTP/1.1 200 OK\r\n\r\nfirst\r\nline");
    rig.Feed(QByteArray(20000, 'x'));
    EXPECT_EQ(rig.Log.BodyPieces, 2);
    EXPECT_EQ(rig.Log.Body.size(), 20011);
}

TEST(HttpResponseReader, NothingIsReadAfterTheEndUntilReset) {
    TReadRig rig({hbfLength, 2});
    rig.Feed("HTTP/1.1 200 OK\r\n\r\nok");
    ASSERT_TRUE(rig.Log.Ended);
    rig.Feed("HTTP/1.1 404 Not Found\r\n\r\n");
    EXPECT_EQ(rig.Log.Lines.size(), 1);
    EXPECT_EQ(rig.Reader.State(), hrsDone);
    rig.Reader.Reset();
    rig.Feed("HTTP/1.1 404 Not Found\r\n\r\n");
    EXPECT_EQ(rig.Log.Lines.last(), "HTTP/1.1 404 Not Found");
}

// A chunk size beyond any real one saturates instead of overflowing.
TEST(HttpResponseReader, OversizedChunkSizeIsHarmless) {
    TReadRig rig({hbfChunked});
    rig.Feed("HTTP/1.1 200 OK\r\n\r\n" + QByteArray(40, 'f') + "\r\nabc");
    EXPECT_EQ(rig.Log.Body, "abc");
    EXPECT_EQ(rig.Reader.ChunkState(), httpChunkGetData);
}

} // namespace
