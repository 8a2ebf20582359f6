// The content-decoding stage: the coding list of Content-Encoding, gzip, zlib and
// raw deflate through the zlib decoder, and br through DecodeBrotliStream, with the
// decoded-size limit in force at every stage of a chain and the cap on the list.
//
// Properties: a body decodes the same whether it arrives in one piece or in many;
// under a limit, a body either decodes exactly as without it (when what every stage
// hands on fits) or fails with the limit's error after no more output than the
// limit; a list of more than four codings, and only such a list, fails with its own
// reason and no output; a body whose coding is unknown passes unchanged; br data decodes the same
// from any position of its stream; and data coded by zlib or the brotli encoder decodes back to the
// bytes that were coded.

#include "fetch/brotli_decode.h"
#include "fetch/content_coding.h"
#include "fetch/zlib_coding.h"
#include "fuzz/fuzz_support.h"
#include "testsite/body_coding.h"

#include <brotli/encode.h>

#include <algorithm>
#include <optional>

namespace {

enum TMode : uint8_t { HandlerMode, BrotliMode, ZlibRoundTrip, BrotliRoundTrip };

// Coding lists as servers write them, good and bad; any other choice reads the
// list from the input.
const char* const CodingLists[] = {
    "gzip",        "deflate",       "br",         "GZIP",    "x-gzip",         "identity",
    "*",           "gzip, deflate", "gzip, br",   "gzip ",   " deflate ,",     "\"gzip\"",
    "\"gzip, x\"", "gzip,,deflate", "deflate, *", "gzip\tx", "identity, gzip", "gzip, gzip",
    "*,*,*,*",     "*,*,*,*,*",
};

// Names for lists made from the input, long ones among them.
const char* const ListNames[] = {"gzip", "deflate", "identity", "*", "GZIP", "br", ""};

struct TDecoded {
    QByteArray Output;
    std::optional<QString> Failure; // the error's message, when decoding failed
    bool LimitCrossed = false;
    bool Known = true;

    bool operator==(const TDecoded&) const = default;
};

// Runs `decode`, noting how it failed, if it did.
template <class TDecode> void Capture(TDecoded& decoded, TDecode decode) {
    try {
        decode();
    } catch (const EResponseLimit& e) {
        decoded.Failure = e.Message();
        decoded.LimitCrossed = true;
    } catch (const Exception& e) {
        decoded.Failure = e.Message();
    }
}

// The handler as a client drives it: prepare, the body in pieces, complete.
TDecoded DecodeInPieces(const QString& codings, const QByteArray& body, const QList<int>& pieces,
                        int64_t limit) {
    RegisterZlibContentCoding();
    TDecoded decoded;
    TMemoryStream out;
    TMemoryStream* slot = &out;
    THttpContCodHandler handler(&slot, TWriteBufferProc());
    handler.SetEnabled(true);
    handler.OutputLimit = limit;
    Capture(decoded, [&] {
        decoded.Known = handler.Prepare(codings);
        qsizetype at = 0;
        for (int size : pieces) {
            handler.WriteBuffer(body.constData() + at, size);
            at += size;
        }
        handler.Complete();
    });
    decoded.Output = out.Data();
    return decoded;
}

TDecoded DecodeBrotli(const QByteArray& junk, const QByteArray& coded, int64_t limit) {
    TDecoded decoded;
    TMemoryStream source, dest;
    source.Write(junk + coded);
    source.Seek(junk.size());
    Capture(decoded, [&] { DecodeBrotliStream(&source, &dest, limit); });
    decoded.Output = dest.Data();
    return decoded;
}

// Under a limit: the same result when every stage's output fits (`largest`), else
// the limit's error after a part of the output that the limit holds.
void CheckLimit(const TDecoded& free, const TDecoded& limited, int64_t limit, int64_t largest) {
    if (largest <= limit && !free.LimitCrossed) {
        Require(limited == free, "a limit the output fits in changes nothing");
        return;
    }
    Require(limited.LimitCrossed, "output beyond the limit fails with the limit's error");
    Require(limited.Output.size() <= limit && free.Output.startsWith(limited.Output),
            "a body cut off by the limit keeps only output within it");
}

QString Describe(const TDecoded& d) {
    return QStringLiteral("%1 bytes (%2...), known %3, failure \"%4\"")
        .arg(d.Output.size())
        .arg(QString::fromLatin1(d.Output.left(24).toHex()))
        .arg(d.Known)
        .arg(d.Failure.value_or(QStringLiteral("none")));
}

QString TakeNameList(FuzzedDataProvider& in) {
    QStringList names;
    for (int count = in.ConsumeIntegralInRange(1, 12); count > 0; --count)
        names.append(ListNames[in.ConsumeIntegralInRange<size_t>(0, std::size(ListNames) - 1)]);
    return names.join(in.ConsumeBool() ? ", " : ",");
}

QString TakeCodings(FuzzedDataProvider& in, uint8_t choice) {
    if (choice < std::size(CodingLists))
        return QString::fromLatin1(CodingLists[choice]);
    if (choice < 160)
        return TakeNameList(in);
    return QString::fromLatin1(TakeBytes(in, 40));
}

// The most that any stage of the chain hands on: each tail of the list decodes to
// what the decoder before it is given, and the whole list to the output. Names of
// a known list hold no comma or blank, so they join back into the same tail.
int64_t LargestStage(const QString& codings, const TDecoded& whole, const QByteArray& body) {
    int64_t largest = whole.Output.size();
    if (!whole.Known || whole.LimitCrossed)
        return largest;
    const QStringList names = SplitCodingNames(codings);
    for (qsizetype first = 1; first < names.size(); ++first) {
        const QString tail = names.mid(first).join(',');
        const TDecoded stage = DecodeInPieces(tail, body, {int(body.size())}, MaxResponseBodyBytes);
        largest = std::max(largest, int64_t(stage.Output.size()));
    }
    return largest;
}

void CheckCodingCap(const QString& codings, const TDecoded& whole) {
    const bool tooMany = SplitCodingNames(codings).size() > MaxContentCodings;
    const bool refused = whole.Failure == QString::fromLatin1(HttpTooManyCodingsReason);
    Require(tooMany == refused, "more than four codings, and only they, fail with their reason",
            codings + "\n" + Describe(whole));
    if (refused)
        Require(whole.LimitCrossed && whole.Output.isEmpty(),
                "a refused list decodes nothing, as a crossed bound");
}

void CheckHandler(FuzzedDataProvider& in, int64_t limit) {
    const QString codings = TakeCodings(in, in.ConsumeIntegral<uint8_t>());
    const QList<int> cuts = TakeCuts(in, 16);
    const QByteArray body = TakeRest(in);

    const TDecoded whole = DecodeInPieces(codings, body, {int(body.size())}, MaxResponseBodyBytes);
    const TDecoded split =
        DecodeInPieces(codings, body, PieceSizes(cuts, int(body.size())), MaxResponseBodyBytes);
    Require(split == whole, "a body decodes the same in one piece and in many",
            codings + "\nwhole: " + Describe(whole) + "\nsplit: " + Describe(split));
    if (!whole.Known)
        Require(whole.Output == body && !whole.Failure,
                "a body of an unknown coding passes unchanged");
    CheckCodingCap(codings, whole);
    CheckLimit(whole, DecodeInPieces(codings, body, {int(body.size())}, limit), limit,
               LargestStage(codings, whole, body));
}

void CheckBrotli(FuzzedDataProvider& in, int64_t limit) {
    const QByteArray junk = TakeBytes(in, 16);
    const QByteArray coded = TakeRest(in);
    const TDecoded whole = DecodeBrotli({}, coded, MaxResponseBodyBytes);
    Require(DecodeBrotli(junk, coded, MaxResponseBodyBytes) == whole,
            "br data decodes the same from any position of its stream");
    CheckLimit(whole, DecodeBrotli({}, coded, limit), limit, whole.Output.size());
}

QByteArray BrotliCompress(const QByteArray& plain, int quality) {
    QByteArray coded(qsizetype(BrotliEncoderMaxCompressedSize(size_t(plain.size()))) + 16,
                     Qt::Uninitialized);
    size_t size = size_t(coded.size());
    if (!BrotliEncoderCompress(quality, BROTLI_DEFAULT_WINDOW, BROTLI_MODE_GENERIC,
                               size_t(plain.size()),
                               reinterpret_cast<const uint8_t*>(plain.constData()), &size,
                               reinterpret_cast<uint8_t*>(coded.data())))
        FuzzFailure("the brotli encoder takes every input");
    coded.resize(qsizetype(size));
    return coded;
}

void CheckRoundTrips(FuzzedDataProvider& in, TMode mode) {
    const uint8_t choice = in.ConsumeIntegral<uint8_t>();
    const QByteArray plain = TakeRest(in);
    if (mode == BrotliRoundTrip) {
        const TDecoded decoded =
            DecodeBrotli({}, BrotliCompress(plain, choice % 12), MaxResponseBodyBytes);
        Require(decoded.Output == plain && !decoded.Failure, "br data decodes back to its bytes");
        return;
    }
    const TDeflateFormat formats[] = {TDeflateFormat::Zlib, TDeflateFormat::Gzip,
                                      TDeflateFormat::Raw};
    const QByteArray coded = Deflate(plain, formats[choice % 3]);
    const TDecoded decoded = DecodeInPieces(choice & 4 ? "deflate" : "gzip", coded,
                                            {int(coded.size())}, MaxResponseBodyBytes);
    Require(decoded.Output == plain && !decoded.Failure,
            "zlib, gzip and raw deflate data decode back to their bytes");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const uint8_t flags = in.ConsumeIntegral<uint8_t>();
    const auto mode = TMode(flags & 3);
    const int64_t limit = in.ConsumeIntegralInRange<int64_t>(0, 1 << 17);
    switch (mode) {
    case HandlerMode:
        CheckHandler(in, limit);
        break;
    case BrotliMode:
        CheckBrotli(in, limit);
        break;
    case ZlibRoundTrip:
    case BrotliRoundTrip:
        CheckRoundTrips(in, mode);
        break;
    }
    return 0;
}
