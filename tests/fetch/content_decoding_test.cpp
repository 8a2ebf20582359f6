#include "fetch/content_coding.h"
#include "fetch/zlib_coding.h"
#include "tests/qt_print.h"
#include "tests/support/case_name.h"
#include "testsite/body_coding.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

const QByteArray kPlain = SampleHtml(100000);
const QString kOverLimit = "Response body larger than 64 MiB";
const QString kTooManyCodings = "Content-Encoding lists more than 4 codings";

// The codings a handler offers are read when it is built, so they are registered first.
struct TZlibRegistered {
    TZlibRegistered() { RegisterZlibContentCoding(); }
};

// A handler wired like the client's: a receive-buffer slot and a data notification.
struct THandlerRig : TZlibRegistered {
    TMemoryStream Body;
    TMemoryStream* Slot = &Body;
    int64_t Notified = 0;
    int64_t LargestBlock = 0;
    THttpContCodHandler Handler{&Slot, [this](const char*, int64_t count) {
                                    Notified += count;
                                    LargestBlock = std::max(LargestBlock, count);
                                }};
    THandlerRig() { Handler.SetEnabled(true); }
    // Feeds `coded` in pieces of `piece` bytes, as a body arrives.
    bool Run(const QString& encoding, const QByteArray& coded, int piece = 1000) {
        const bool known = Handler.Prepare(encoding);
        for (int i = 0; i < coded.size(); i += piece)
            Handler.WriteBuffer(coded.constData() + i, std::min<int>(piece, coded.size() - i));
        Handler.Complete();
        return known;
    }
};

struct TDecodeCase {
    const char* Name;
    QString Encoding;
    std::function<QByteArray()> Coded;
    bool Decoded; // false: the body must come out exactly as it went in
};

class DecodeTable : public testing::TestWithParam<TDecodeCase> {};

TEST_P(DecodeTable, BodyComesOutDecodedOrUnchanged) {
    const TDecodeCase& c = GetParam();
    THandlerRig rig;
    const QByteArray coded = c.Coded();
    const bool known = rig.Run(c.Encoding, coded);
    EXPECT_EQ(rig.Body.Data(), c.Decoded ? kPlain : coded);
    EXPECT_EQ(rig.Notified, rig.Body.Size());
    if (!c.Decoded) {
        EXPECT_EQ(known, c.Encoding.isEmpty() || c.Encoding == "identity" || c.Encoding == "*");
    }
}

QByteArray GzipWithBadTrailer() {
    QByteArray data = Deflate(kPlain, TDeflateFormat::Gzip);
    data[data.size() - 6] = data[data.size() - 6] ^ 0x55; // CRC-32
    data[data.size() - 1] = data[data.size() - 1] ^ 0x11; // length
    return data;
}

INSTANTIATE_TEST_SUITE_P(
    ContentEncoding, DecodeTable,
    testing::Values(
        TDecodeCase{"GzipData", "gzip", [] { return Deflate(kPlain, TDeflateFormat::Gzip); }, true},
        TDecodeCase{"GzipNameZlibData", "gzip",
                    [] { return Deflate(kPlain, TDeflateFormat::Zlib); }, true},
        TDecodeCase{"GzipNameRawData", "gzip", [] { return Deflate(kPlain, TDeflateFormat::Raw); },
                    true},
        TDecodeCase{"DeflateNameGzipData", "deflate",
                    [] { return Deflate(kPlain, TDeflateFormat::Gzip); }, true},
        TDecodeCase{"CapitalLetters", "GZip", [] { return Deflate(kPlain, TDeflateFormat::Gzip); },
                    true},
        TDecodeCase{"QuotedAndBlanks", " \"gzip\" ",
                    [] { return Deflate(kPlain, TDeflateFormat::Gzip); }, true},
        TDecodeCase{"WrongCrcAndLength", "gzip", GzipWithBadTrailer, true},
        TDecodeCase{"TrailingBytes", "gzip",
                    [] { return Deflate(kPlain, TDeflateFormat::Gzip) + "trailing junk"; }, true},
        TDecodeCase{
            "TwoLayersUndoneInReverse", "deflate, gzip",
            [] { return Deflate(Deflate(kPlain, TDeflateFormat::Zlib), TDeflateFormat::Gzip); },
            true},
        TDecodeCase{
            "FourCodingsAtTheCap", "*, deflate, identity, gzip",
            [] { return Deflate(Deflate(kPlain, TDeflateFormat::Zlib), TDeflateFormat::Gzip); },
            true},
        TDecodeCase{"XGzipUnknown", "x-gzip", [] { return Deflate(kPlain, TDeflateFormat::Gzip); },
                    false},
        TDecodeCase{"UnknownNameSpoilsKnownOne", "gzip, br",
                    [] { return Deflate(kPlain, TDeflateFormat::Gzip); }, false},
        TDecodeCase{"EmptyItemIsUnknown", "gzip,",
                    [] { return Deflate(kPlain, TDeflateFormat::Gzip); }, false},
        TDecodeCase{"Identity", "identity", [] { return kPlain; }, false},
        TDecodeCase{"Star", "*", [] { return kPlain; }, false},
        TDecodeCase{"NoEncoding", "", [] { return Deflate(kPlain, TDeflateFormat::Gzip); }, false}),
    CaseName);

struct TFailureCase {
    const char* Name;
    std::function<QByteArray()> Coded;
    QString Message;
};

class DecodeFailureTable : public testing::TestWithParam<TFailureCase> {};

TEST_P(DecodeFailureTable, RaisesTheZlibText) {
    THandlerRig rig;
    try {
        rig.Run("gzip", GetParam().Coded());
        FAIL() << "no error raised";
    } catch (const EDecompressionError& e) {
        EXPECT_EQ(e.Message(), GetParam().Message);
    }
    // What was decoded before the failure stays in the receive buffer.
    EXPECT_TRUE(kPlain.startsWith(rig.Body.Data()));
}

INSTANTIATE_TEST_SUITE_P(
    Zlib, DecodeFailureTable,
    testing::Values(TFailureCase{"TruncatedGzip",
                                 [] {
                                     const QByteArray gz = Deflate(kPlain, TDeflateFormat::Gzip);
                                     return gz.left(gz.size() / 2);
                                 },
                                 "Buffer error"},
                    TFailureCase{"HeaderOnly",
                                 [] { return Deflate(kPlain, TDeflateFormat::Gzip).left(10); },
                                 "Buffer error"},
                    TFailureCase{"InvalidData", [] { return QByteArray("\xff\xff\xff\xff junk"); },
                                 "Data error"}),
    CaseName);

// Raw deflate with a copy that reaches back before the first byte decoded: a data
// error after the bytes before it, never bytes from outside the output.
TEST(ZlibDecoder, CopyFromBeforeTheOutputIsADataError) {
    THandlerRig rig;
    try {
        rig.Run("deflate", QByteArray::fromHex("2a2c2a2c2a2c2a2cc5c5c5c5c5c5c5c5"));
        FAIL() << "no error raised";
    } catch (const EDecompressionError& e) {
        EXPECT_EQ(e.Message(), "Data error");
    }
    EXPECT_EQ(rig.Body.Data(), "qrqrqrqu");
}

struct TOutputLimitCase {
    const char* Name;
    QString Encoding;
    std::function<QByteArray()> Coded;
};

class OutputLimitTable : public testing::TestWithParam<TOutputLimitCase> {};

// The limit holds for what comes out, however small the coded body: decoding stops
// before a block would pass it.
TEST_P(OutputLimitTable, OutputPastTheLimitRaises) {
    THandlerRig rig;
    rig.Handler.OutputLimit = kPlain.size() - 1;
    try {
        rig.Run(GetParam().Encoding, GetParam().Coded());
        FAIL() << "no failure raised";
    } catch (const EResponseLimit& limit) {
        EXPECT_EQ(limit.Message(), kOverLimit);
    }
    EXPECT_LE(rig.Body.Size(), kPlain.size() - 1);
    EXPECT_TRUE(kPlain.startsWith(rig.Body.Data()));
    rig.Handler.OutputLimit = kPlain.size();
    rig.Body.SetSize(0);
    rig.Run(GetParam().Encoding, GetParam().Coded());
    EXPECT_EQ(rig.Body.Data(), kPlain);
}

INSTANTIATE_TEST_SUITE_P(
    Limits, OutputLimitTable,
    testing::Values(TOutputLimitCase{"Identity", "", [] { return kPlain; }},
                    TOutputLimitCase{"Gzip", "gzip",
                                     [] { return Deflate(kPlain, TDeflateFormat::Gzip); }},
                    TOutputLimitCase{"Deflate", "deflate",
                                     [] { return Deflate(kPlain, TDeflateFormat::Zlib); }}),
    CaseName);

struct TChainBoundCase {
    const char* Name;
    QString Encoding;
    std::function<QByteArray()> Coded;
    QString Message;
};

// Each decoder that feeds another is bounded like the last one, and a list longer
// than the cap is refused before any decoder is made: nothing reaches the body.
class ChainBoundTable : public testing::TestWithParam<TChainBoundCase> {};

TEST_P(ChainBoundTable, FailsBeforeAnyStageHoldsMore) {
    THandlerRig rig;
    rig.Handler.OutputLimit = kPlain.size();
    try {
        rig.Run(GetParam().Encoding, GetParam().Coded());
        FAIL() << "no failure raised";
    } catch (const EResponseLimit& limit) {
        EXPECT_EQ(limit.Message(), GetParam().Message);
    }
    EXPECT_EQ(rig.Body.Size(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Chains, ChainBoundTable,
    testing::Values(
        // Padding after a gzip stream is left unread: only the first stage's bound stops it.
        TChainBoundCase{"GzipStageOverTheLimit", "gzip, gzip",
                        [] {
                            return Deflate(Deflate(kPlain, TDeflateFormat::Gzip) +
                                               QByteArray(kPlain.size(), ' '),
                                           TDeflateFormat::Gzip);
                        },
                        kOverLimit},
        TChainBoundCase{"FiveUnknownNames", "a, b, c, d, e", [] { return kPlain; },
                        kTooManyCodings},
        TChainBoundCase{"HalfAMillionStars", QStringList(500000, "*").join(','),
                        [] { return kPlain; }, kTooManyCodings}),
    CaseName);

TEST(ContentDecoding, OutputBlocksNeverExceed32K) {
    THandlerRig rig;
    const QByteArray big = SampleHtml(1 << 20);
    rig.Run("gzip", Deflate(big, TDeflateFormat::Gzip));
    EXPECT_EQ(rig.Body.Data(), big);
    EXPECT_LE(rig.LargestBlock, 32768);
}

// The client swaps or drops its receive buffer between attempts; output follows the slot.
TEST(ContentDecoding, OutputGoesToTheBufferHeldAtWritingTime) {
    THandlerRig rig;
    TMemoryStream later;
    rig.Handler.Prepare("gzip");
    const QByteArray coded = Deflate(kPlain, TDeflateFormat::Gzip);
    rig.Handler.WriteBuffer(coded.constData(), coded.size());
    rig.Slot = &later;
    rig.Handler.Complete();
    EXPECT_EQ(rig.Body.Size(), 0);
    EXPECT_EQ(later.Data(), kPlain);

    rig.Slot = nullptr;
    rig.Notified = 0;
    rig.Run("", "plain bytes");
    EXPECT_EQ(rig.Notified, 11);
}

TEST(ContentDecoding, DisabledHandlerPassesBodyUnchanged) {
    THandlerRig rig;
    rig.Handler.SetEnabled(false);
    const QByteArray coded = Deflate(kPlain, TDeflateFormat::Gzip);
    EXPECT_TRUE(rig.Run("gzip", coded));
    EXPECT_EQ(rig.Body.Data(), coded);
}

TEST(ContentDecoding, NextPrepareDropsThePreviousChain) {
    THandlerRig rig;
    rig.Run("gzip", Deflate("first", TDeflateFormat::Gzip));
    rig.Run("gzip", Deflate("second", TDeflateFormat::Gzip));
    EXPECT_EQ(rig.Body.Data(), "firstsecond");
}

// A response whose body never came (an empty chunked one) still ends its body: that
// end, and a new response, must find nothing of the last chain, whose output would
// otherwise become this response's body and count against this response's bound.
TEST(ContentDecoding, AChainEndsOnceAndANewResponseCountsFromZero) {
    THandlerRig rig;
    rig.Handler.OutputLimit = 2 * 5 - 1;
    rig.Run("gzip", Deflate("first", TDeflateFormat::Gzip));
    rig.Handler.Complete();
    EXPECT_EQ(rig.Body.Data(), "first");
    rig.Handler.Reset();
    rig.Handler.WriteBuffer("plain", 5);
    rig.Handler.Complete();
    EXPECT_EQ(rig.Body.Data(), "firstplain");
}

TEST(ContentCodingHandler, OffersEnabledCodingsWithQuality) {
    const struct {
        const char* Name;
        bool Enabled;
        bool UseQuality;
        bool ZlibItemEnabled;
        QString Expected;
    } cases[] = {
        {"Plain", true, false, true, "gzip, deflate"},
        {"Disabled", false, false, true, ""},
        {"WithQuality", true, true, true, "gzip;q=1, deflate;q=1"},
        {"ZlibItemOff", true, false, false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        THandlerRig rig;
        rig.Handler.SetEnabled(c.Enabled);
        EXPECT_EQ(rig.Handler.HeaderText(), c.Enabled ? "gzip, deflate" : "");
        rig.Handler.SetUseQuality(c.UseQuality);
        for (THttpContCodItem& item : rig.Handler.CodingParams())
            if (item.Coding() == "gzip, deflate")
                item.SetEnabled(c.ZlibItemEnabled);
        rig.Handler.SetUseQuality(c.UseQuality); // a change of quality recomputes the text
        EXPECT_EQ(rig.Handler.HeaderText(), c.Expected);
    }
}

TEST(SplitCodingNames, SplitsLikeContentEncoding) {
    const struct {
        QString Text;
        QStringList Names;
    } cases[] = {
        {"gzip", {"gzip"}},
        {"gzip, deflate", {"gzip", "deflate"}},
        {" gzip\t,\r\ndeflate ", {"gzip", "deflate"}},
        {"gzip,,br", {"gzip", "", "br"}},
        {"gzip,", {"gzip", ""}},
        {"gz ip, br", {"gz", "br"}},
        {"\"a, b\", c", {"a, b", "c"}},
        {"\"open", {"open"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SplitCodingNames(c.Text), c.Names) << c.Text.toStdString();
}

TEST(ContCodingsList, LaterEntryWinsAndRemoveDropsIt) {
    TContCodingsList& registry = TContCodingsList::Instance();
    RegisterZlibContentCoding();
    static const TContentCodingClass shadow{"DEFLATE", [] { return true; },
                                            THttpCCodIdentity::Class().Create};
    registry.Add(shadow, 0.5f);
    EXPECT_EQ(registry.FindCoding("deflate"), &shadow);
    EXPECT_EQ(registry.FindCoding("gzip"), &THttpCCodzlib::Class());
    registry.Remove(shadow);
    EXPECT_EQ(registry.FindCoding("deflate"), &THttpCCodzlib::Class());
    EXPECT_EQ(registry.FindCoding("br"), nullptr);
}

} // namespace
