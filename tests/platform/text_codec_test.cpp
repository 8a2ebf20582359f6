#include "platform/text_codec.h"

#include "tests/qt_print.h"

#include <QStringDecoder>

#include <gtest/gtest.h>

namespace {

QString Units(std::initializer_list<char16_t> units) {
    QString s;
    for (char16_t u : units)
        s.append(QChar(u));
    return s;
}

} // namespace

TEST(DecodeUtf8, WellFormedAndMalformedSequences) {
    struct Case {
        const char* name;
        QByteArray bytes;
        QString expected;
    } cases[] = {
        {"ascii", "abc", "abc"},
        {"cyrillic", "\xD0\x9C\xD0\xB8\xD1\x80", u"Мир"_qs},
        {"leading mark kept",
         "\xEF\xBB\xBF"
         "a",
         Units({0xFEFF, 'a'})},
        {"mark inside kept", "a\xEF\xBB\xBF", Units({'a', 0xFEFF})},
        {"four bytes give a pair", "\xF0\x9F\x98\x80", Units({0xD83D, 0xDE00})},
        {"highest code point", "\xF4\x8F\xBF\xBF", Units({0xDBFF, 0xDFFF})},
        {"lone continuation", "a\x80z", Units({'a', 0xFFFD, 'z'})},
        {"truncated at end", "a\xD0", Units({'a', 0xFFFD})},
        {"truncated three-byte", "\xE2\x82z", Units({0xFFFD, 'z'})},
        {"overlong two-byte", "\xC0\xAF", Units({0xFFFD, 0xFFFD})},
        {"overlong three-byte", "\xE0\x80\xAF", Units({0xFFFD, 0xFFFD, 0xFFFD})},
        {"encoded surrogate", "\xED\xA0\x80", Units({0xFFFD, 0xFFFD, 0xFFFD})},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", Units({0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD})},
        {"byte FF", "\xFF", Units({0xFFFD})},
        {"Windows-1251 text", "\xCC\xE8\xF0", Units({0xFFFD, 0xFFFD, 0xFFFD})},
        {"NUL kept", QByteArray("a\0b", 3), Units({'a', 0, 'b'})},
        {"empty", "", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DecodeUtf8(c.bytes), c.expected) << c.name;
}

// ASCII is taken in blocks: a letter or a bad byte at any place in or after a
// block must come out where it stood.
TEST(DecodeUtf8, NonAsciiAtEveryOffsetOfAsciiRuns) {
    const QByteArray ascii = "abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMN";
    for (const QByteArray& odd :
         {QByteArray("\xD0\x96"), QByteArray("\xE2\x82\xAC"), QByteArray("\x80")}) {
        const QString oddText = odd == "\x80" ? QString(QChar(0xFFFD)) : QString::fromUtf8(odd);
        for (int at = 0; at <= 40; ++at) {
            const QByteArray bytes = ascii.left(at) + odd + ascii.mid(at);
            const QString expected =
                QString::fromLatin1(ascii.left(at)) + oddText + QString::fromLatin1(ascii.mid(at));
            EXPECT_EQ(DecodeUtf8(bytes), expected) << at << " bytes before " << odd.toHex().data();
        }
    }
}

TEST(IsValidUtf8, AcceptsOnlyWellFormedText) {
    struct Case {
        QByteArray bytes;
        bool valid;
    } cases[] = {
        {"", true},
        {"plain", true},
        {"\xEF\xBB\xBF\xD0\x90", true},
        {"\xF0\x9F\x98\x80", true},
        {"\xC0\x80", false},
        {"\xD0", false},
        {"\xC0\xE0", false},
        {"\xED\xBF\xBF", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsValidUtf8(c.bytes), c.valid) << c.bytes.toHex().toStdString();
}

TEST(EncodeUtf8, RoundTripsAndReplacesLoneSurrogates) {
    struct Case {
        QString text;
        QByteArray expected;
    } cases[] = {
        {u"Томск"_qs, "\xD0\xA2\xD0\xBE\xD0\xBC\xD1\x81\xD0\xBA"},
        {Units({0xD83D, 0xDE00}), "\xF0\x9F\x98\x80"},
        {Units({0xD83D, 'a'}), "\xEF\xBF\xBD"
                               "a"},
        {Units({0xDE00}), "\xEF\xBF\xBD"},
        {Units({'x', 0xD83D}), "x\xEF\xBF\xBD"},
        {Units({0xFEFF}), "\xEF\xBB\xBF"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(EncodeUtf8(c.text), c.expected);
        EXPECT_EQ(EncodeDefaultCodePage(c.text), c.expected);
    }
}

TEST(DecodeWindows1251, EveryByteMatchesTheSystemCodec) {
    QStringDecoder reference("windows-1251");
    if (!reference.isValid())
        GTEST_SKIP() << "no Windows-1251 codec on this system";
    for (int b = 0; b < 256; ++b) {
        if (b == 0x98)
            continue; // unassigned in the code page
        const QByteArray byte(1, char(b));
        EXPECT_EQ(DecodeWindows1251(byte), QString(reference.decode(byte))) << b;
    }
}

TEST(DecodeWindows1251, KnownLetters) {
    EXPECT_EQ(DecodeWindows1251("\xC0\xE0\xA8\xB8\xB9\x98"),
              Units({0x410, 0x430, 0x401, 0x451, 0x2116, 0x98}));
}

TEST(DecodeDefaultCodePage, Utf8WhenValidElseWindows1251) {
    struct Case {
        QByteArray bytes;
        QString expected;
    } cases[] = {
        {"\xD0\x9C\xD0\xB8\xD1\x80", u"Мир"_qs},
        {"\xCC\xE8\xF0", u"Мир"_qs},
        {"\xD0\x9C\xE8", u"Рњи"_qs},
        {"ascii", "ascii"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DecodeDefaultCodePage(c.bytes), c.expected);
}
