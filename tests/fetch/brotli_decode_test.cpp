#include "fetch/brotli_decode.h"
#include "tests/qt_print.h"
#include "tests/support/case_name.h"
#include "testsite/body_coding.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>

namespace {

// Random bytes do not compress, so the coded stream spans several 64 KB input blocks.
QByteArray Incompressible(int size) {
    std::mt19937 gen(7);
    QByteArray data(size, Qt::Uninitialized);
    for (char& c : data)
        c = static_cast<char>(gen());
    return data;
}

struct TBrotliCase {
    const char* Name;
    QByteArray Plain;
    std::function<QByteArray(const QByteArray& coded)> Mangle;
    bool WholeOutput; // false: a strict prefix of Plain, possibly empty
};

class BrotliTable : public testing::TestWithParam<TBrotliCase> {};

TEST_P(BrotliTable, DecodesWithoutError) {
    const TBrotliCase& c = GetParam();
    TMemoryStream source, dest;
    source.Write(c.Mangle(BrotliBytes(c.Plain)));
    source.Seek(0);
    DecodeBrotliStream(&source, &dest);
    if (c.WholeOutput) {
        EXPECT_EQ(dest.Data(), c.Plain);
    } else {
        EXPECT_LT(dest.Size(), c.Plain.size());
        EXPECT_TRUE(c.Plain.startsWith(dest.Data()));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Br, BrotliTable,
    testing::Values(TBrotliCase{"Html", SampleHtml(300000), [](const QByteArray& b) { return b; },
                                true},
                    TBrotliCase{"SeveralInputBlocks", Incompressible(200000),
                                [](const QByteArray& b) { return b; }, true},
                    TBrotliCase{"TrailingBytesIgnored", SampleHtml(5000),
                                [](const QByteArray& b) { return b + "after the stream"; }, true},
                    TBrotliCase{"Empty", QByteArray(), [](const QByteArray& b) { return b; }, true},
                    TBrotliCase{"CutShort", Incompressible(200000),
                                [](const QByteArray& b) { return b.left(b.size() / 2); }, false},
                    TBrotliCase{"NoInputAtAll", SampleHtml(100),
                                [](const QByteArray&) { return QByteArray(); }, false}),
    CaseName);

TEST(DecodeBrotliStream, StartsAtTheSourcePositionAndAppendsToDest) {
    TMemoryStream source, dest;
    source.Write("prefix");
    source.Write(BrotliBytes("body"));
    source.Seek(6);
    dest.Write("kept:");
    DecodeBrotliStream(&source, &dest);
    EXPECT_EQ(dest.Data(), "kept:body");
}

TEST(DecodeBrotliStream, RaisesTheDecoderErrorName) {
    // A window-bits nibble pattern the format reserves, and a last-empty block whose
    // padding bits are not zero.
    const struct {
        QByteArray Coded;
        QString Message;
    } cases[] = {
        {QByteArray("\x11\x00", 2), "WINDOW_BITS"},
        {QByteArray("\x0e"), "PADDING_2"},
    };
    for (const auto& c : cases) {
        TMemoryStream source, dest;
        source.Write(c.Coded);
        source.Seek(0);
        try {
            DecodeBrotliStream(&source, &dest);
            ADD_FAILURE() << "no error raised for " << c.Message.toStdString();
        } catch (const EBrotliDecompressionError& e) {
            EXPECT_EQ(e.Message(), c.Message);
        }
    }
}

// However small the coded stream, the output stops at the limit.
TEST(DecodeBrotliStream, OutputPastTheLimitRaises) {
    const QByteArray plain(3000000, '\0');
    TMemoryStream source;
    source.Write(BrotliBytes(plain));
    for (const int64_t limit : {int64_t(plain.size()) - 1, int64_t(plain.size())}) {
        source.Seek(0);
        TMemoryStream dest;
        try {
            DecodeBrotliStream(&source, &dest, limit);
            EXPECT_EQ(limit, plain.size());
            EXPECT_EQ(dest.Data(), plain);
        } catch (const EResponseLimit& failure) {
            EXPECT_LT(limit, plain.size());
            EXPECT_EQ(failure.Message(), "Response body larger than 64 MiB");
            EXPECT_LE(dest.Size(), limit);
        }
    }
}

TEST(BrotliErrorName, NamesKnownCodesAndOthersInvalid) {
    const std::pair<int, const char*> rows[] = {{0, "NO_ERROR"},      {3, "NEEDS_MORE_OUTPUT"},
                                                {-14, "PADDING_1"},   {-19, "DICTIONARY_NOT_SET"},
                                                {-31, "UNREACHABLE"}, {-16, "INVALID"},
                                                {-28, "INVALID"},     {4, "INVALID"}};
    for (const auto& [code, name] : rows)
        EXPECT_EQ(BrotliErrorName(code), name) << code;
}

} // namespace
