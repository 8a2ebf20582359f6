// The response side of the HTTP client: status line, header, Content-Length,
// chunked and close-delimited bodies, relocations and the content-decoding stage,
// fed in pieces whose boundaries the fuzzer chooses, with the response limits in
// force (at their real values, or tight enough for small inputs to cross them).
//
// Properties: the outcome of a response does not depend on how its bytes were
// split; what a response leaves stays within the limits.

#include "fetch/content_coding.h"
#include "fuzz/fuzz_support.h"
#include "tests/fetch/http_feed_rig.h"

namespace {

// The values of the remaining flags are those the corpus was made with.
enum TFlag : uint8_t {
    RequestVersion11 = 1,
    TightLimits = 8,
    StaysOpen = 16,
    CloseWithError = 32,
};

struct TSettings {
    uint8_t Flags = 0;
    int64_t HeaderBytes = MaxResponseHeaderBytes;
    int HeaderLines = MaxResponseHeaderLines;
    int64_t BodyBytes = MaxResponseBodyBytes;
    int64_t DecodedBytes = MaxResponseBodyBytes;
};

// A client fed by the fuzzer. A relocation ends where the next connection would
// be opened: no name is looked up and no socket is made.
class TFuzzCli : public TFeedCli {
public:
    int Connections = 0;

    explicit TFuzzCli(const TSettings& s) {
        Request.SetRequestVer(s.Flags & RequestVersion11 ? "1.1" : "1.0");
        BeginResponse();
        FReader.HeaderByteLimit = s.HeaderBytes;
        FReader.HeaderLineLimit = s.HeaderLines;
        FReader.BodyByteLimit = s.BodyBytes;
        FContentCodingHnd->OutputLimit = s.DecodedBytes;
    }

protected:
    void OpenConnection() override { ++Connections; }
};

TSettings TakeSettings(FuzzedDataProvider& in) {
    TSettings s;
    s.Flags = in.ConsumeIntegral<uint8_t>();
    if (s.Flags & TightLimits) {
        s.HeaderBytes = in.ConsumeIntegralInRange<int64_t>(0, 4096);
        s.HeaderLines = in.ConsumeIntegralInRange<int>(0, 64);
        s.BodyBytes = in.ConsumeIntegralInRange<int64_t>(0, 4096);
        s.DecodedBytes = in.ConsumeIntegralInRange<int64_t>(0, 1 << 16);
    }
    return s;
}

struct TRun {
    TFeedOutcome Outcome;
    int Connections;
};

TRun Run(const TSettings& s, const QByteArray& response, const QList<int>& pieces) {
    TFuzzCli cli(s);
    const int closeError = s.Flags & StaysOpen ? -1 : s.Flags & CloseWithError ? 10054 : 0;
    TFeedOutcome outcome = FeedPieces(cli, response, pieces, closeError);
    return {outcome, cli.Connections};
}

QString Describe(const TFeedOutcome& o) {
    return QStringLiteral("ready %1, status %2, reason \"%3\", error %4, body %5 bytes, "
                          "%6 header lines, count %7")
        .arg(o.Ready)
        .arg(o.Status)
        .arg(o.Reason)
        .arg(o.Error)
        .arg(o.Body.size())
        .arg(o.Header.size())
        .arg(o.RcvdCount);
}

// A response that failed is dropped whole, so only its error must not depend on the
// split: the decoder refuses a block that would cross its limit before writing any
// of it, so the body decoded until then ends where the blocks happened to end, and
// so does the count received. Both are still beginnings of the same body.
bool SameOutcome(const TRun& whole, const TRun& split) {
    if (whole.Connections != split.Connections)
        return false;
    if (whole.Outcome.Error == 0 || split.Outcome.Error == 0)
        return whole.Outcome == split.Outcome;
    TFeedOutcome a = whole.Outcome, b = split.Outcome;
    const bool prefixes = a.Body.startsWith(b.Body) || b.Body.startsWith(a.Body);
    a.Body = b.Body = {};
    a.RcvdCount = b.RcvdCount = 0;
    return prefixes && a == b;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const TSettings settings = TakeSettings(in);
    const QList<int> cuts = TakeCuts(in, 48);
    const QByteArray response = TakeRest(in);

    const TRun whole = Run(settings, response, {int(response.size())});
    const TRun split = Run(settings, response, PieceSizes(cuts, int(response.size())));
    Require(SameOutcome(whole, split), "the outcome does not depend on how the response is split",
            "whole: " + Describe(whole.Outcome) + "\nsplit: " + Describe(split.Outcome));

    const TFeedOutcome& o = whole.Outcome;
    Require(o.RcvdCount <= settings.BodyBytes, "no more body is taken than the limit allows");
    Require(o.Body.size() <= settings.DecodedBytes, "no more is decoded than the limit allows");
    Require(o.Header.size() <= settings.HeaderLines, "no more header lines than the limit");
    return 0;
}
