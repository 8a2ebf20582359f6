#include "crawl/text_utils.h"

#include "platform/durable_file.h"
#include "tests/crawl/literal_rules.h"
#include "tests/qt_print.h"

#include <QFile>
#include <QTemporaryDir>

#include <climits>
#include <iterator>
#include <random>

#include <gtest/gtest.h>

namespace {

const QChar Nul(0);

QString WithNul(const QString& before, const QString& after) {
    return before + Nul + after;
}

} // namespace

TEST(ExtractBetween, Markers) {
    struct Case {
        const char* name;
        QString text, start, second, end, expected;
    } cases[] = {
        {"plain", "a[x]b", "[", "", "]", "x"},
        {"first start, first end after it", "[a][b]", "[", "", "]", "a"},
        {"end only before start", "]x[y", "[", "", "]", ""},
        {"no start", "abc", "[", "", "]", ""},
        {"end right after start", "[]", "[", "", "]", ""},
        {"second marker after start", "<h1 id=\"a>\">Name</h1>", "<h1", ">", "</h1>", "\">Name"},
        {"second marker before start is skipped", ">x<h1 class=n>Name</h1>", "<h1", ">", "</h1>",
         "Name"},
        {"second marker missing", "<h1 Name</h1>", "<h1", "#", "</h1>", ""},
        {"end may not overlap the start", "aXa", "aXa", "", "a", ""},
        {"end searched after the second marker", "S1E2M3E", "S", "M", "E", "3"},
        {"empty start", "abc", "", "", "c", ""},
        {"empty end", "abc", "a", "", "", ""},
        {"cyrillic", u"<span>Адрес</span>ул. Ленина<"_qs, u"Адрес</span>"_qs, "", "<",
         u"ул. Ленина"_qs},
        {"NUL does not end the search", WithNul("[a", "b]"), "[", "", "]", WithNul("a", "b")},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ExtractBetween(c.text, c.start, c.second, c.end), c.expected) << c.name;
}

TEST(LastPosBefore, Limits) {
    struct Case {
        const char* name;
        QString sub, text;
        int limit, expected;
    } cases[] = {
        {"last occurrence", "ab", "ab-ab", INT_MAX, 4},
        {"limit cuts the last one in two", "ab", "ab-ab", 4, 1},
        {"limit holds it exactly", "ab", "ab-ab", 5, 4},
        {"limit beyond the text", "ab", "xab", 1000, 2},
        {"overlapping occurrences", "aa", "aaaa", INT_MAX, 3},
        {"none", "z", "abc", INT_MAX, 0},
        {"longer than the text", "abc", "ab", INT_MAX, 0},
        {"first unit alone at the end", "ab", "ab-a", INT_MAX, 1},
        {"zero limit", "a", "a", 0, 0},
        {"negative limit", "a", "a", -3, 0},
        {"empty substring", "", "abc", INT_MAX, 0},
        {"NUL ends the text", "b", WithNul("ab", "b"), INT_MAX, 2},
        {"NUL before any occurrence", "b", WithNul("a", "bb"), INT_MAX, 0},
        {"surrogate units count", u"x"_qs, u"😀x"_qs, INT_MAX, 3},
    };
    for (const Case& c : cases)
        EXPECT_EQ(LastPosBefore(c.sub, c.text, c.limit), c.expected) << c.name;
}

TEST(ExtractBetweenBack, Markers) {
    struct Case {
        const char* name;
        QString text, start, second, end, expected;
    } cases[] = {
        {"last end before last start", "YTYUX", "X", "", "Y", "U"},
        {"last start counts", "YaX YbX", "X", "", "Y", "b"},
        {"no start", "YaY", "X", "", "Y", ""},
        {"no end before start", "XY", "X", "", "Y", ""},
        {"end right before start", "YX", "X", "", "Y", ""},
        {"second marker before start", "Y1M2X", "X", "M", "Y", "1"},
        {"second marker missing", "Y1X", "X", "M", "Y", ""},
        {"overlapping end and start not allowed", "aba", "ba", "", "ab", ""},
        {"description block", u"<dl><p>old</p></dl><dl><p>Текст</p><span>Нашли</span></dl>"_qs,
         u"<span>Нашли</span>"_qs, "", "</dl>", u"<dl><p>Текст</p>"_qs},
        {"NUL hides what follows", WithNul("YaX", "YbX"), "X", "", "Y", "a"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ExtractBetweenBack(c.text, c.start, c.second, c.end), c.expected) << c.name;
}

TEST(ReplaceAll, LeftToRightWithoutOverlap) {
    struct Case {
        QString text, oldText, newText, expected;
    } cases[] = {
        {"    ", "  ", " ", "  "},
        {"aaa", "aa", "b", "ba"},
        {"abab", "ab", "abab", "abababab"},
        {"a;b;", ";", ",", "a,b,"},
        {"Abc abc", "abc", "x", "Abc x"},
        {"abc", "", "x", "abc"},
        {"abc", "b", "", "ac"},
        {"", "a", "b", ""},
        {WithNul("a", "a"), "a", "b", WithNul("b", "b")},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ReplaceAll(c.text, c.oldText, c.newText), c.expected) << c.text.toStdString();
}

TEST(HtmlDecode, References) {
    struct Case {
        const char* name;
        QString text, expected;
    } cases[] = {
        {"named", "&amp;&lt;&gt;&quot;&nbsp;", "&<>\" "},
        {"quotes", "&laquo;Top&raquo;", u"«Top»"_qs},
        {"one level only", "&amp;lt;", "&lt;"},
        {"numeric", "&#65;", "A"},
        {"numeric without semicolon loses the stopper", "&#65 B", "AB"},
        {"numeric stopped by a letter", "&#65x", "A"},
        {"numeric at the end", "&#65", "A"},
        {"numeric cyrillic", "&#1040;&#1103;", u"Ая"_qs},
        {"hash inside the run", "&#65#66;", "A"},
        {"apostrophe reference", "&#039;", "'"},
        {"unknown name kept", "&copy;", "&copy;"},
        {"capitals kept", "&AMP;", "&AMP;"},
        {"name without semicolon kept", "&amp x", "&amp x"},
        {"double ampersand", "&&amp;", "&&amp;"},
        {"ampersand then space", "a & b", "a & b"},
        {"trailing ampersand dropped", "a&", "a"},
        {"lone ampersand", "&", ""},
        {"NUL ends the text", WithNul("ab", "cd"), "ab"},
        {"NUL after ampersand", WithNul("a&", "b"), "a&"},
        {"NUL stops a numeric reference", WithNul("&#65", "b"), "A"},
        {"empty", "", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(HtmlDecode(c.text), c.expected) << c.name;
}

// References that name no single UTF-16 character: the decoder writes the real
// character or U+FFFD, never a NUL or half a surrogate pair.
TEST(HtmlDecode, NumericReferencesBeyondOneCodeUnit) {
    struct Case {
        const char* name;
        QString text, expected;
    } cases[] = {
        {"above 16 bits", "&#128512;", u"😀"_qs},
        {"highest code point", "&#1114111;", QString(QChar(0xDBFF)) + QChar(0xDFFF)},
        {"beyond Unicode", "&#1114112;", u"\uFFFD"_qs},
        {"beyond 32 bits", "&#99999999999999999999;x", u"\uFFFDx"_qs},
        {"surrogate code", "&#55357;", u"\uFFFD"_qs},
        {"no digits", "&#x41;", u"\uFFFD41;"_qs},
        {"second hash", "&##65;b", u"\uFFFDb"_qs},
        {"zero", "&#0;a", u"\uFFFDa"_qs},
        {"bare at the end", "a&#", u"a\uFFFD"_qs},
    };
    for (const Case& c : cases)
        EXPECT_EQ(HtmlDecode(c.text), c.expected) << c.name;
}

TEST(HtmlToText, CleansMarkup) {
    struct Case {
        const char* name;
        QString text, expected;
    } cases[] = {
        {"semicolon becomes comma", "a;b", "a,b"},
        {"line-break tag gives a space", "one<br>two", "one two"},
        {"self-closing break removed", "one<br/>two", "onetwo"},
        {"decoded less-than opens a tag", "a &lt; b", "a "},
        {"decoded tag removed", "&lt;b&gt;x", "x"},
        {"double-escaped space", "a&amp;nbsp;b", "a b"},
        {"entities left by decoding", "&bull;&times;&mdash;&ndash;", "-x--"},
        {"double-escaped quotes", "&amp;laquo;x&amp;raquo;", "\"x\""},
        {"double-escaped apostrophe", "&amp;#039;", "'"},
        {"line breaks removed", "a\r\nb\nc\r", "abc"},
        {"quotation marks kept as decoded", "&laquo;x&raquo;", u"«x»"_qs},
        {"unterminated tag cut to the end", "a<b c", "a"},
        {"nested opening", "a<<b>c", "ac"},
        {"closing alone kept", "a>b", "a>b"},
        {"tags removed", "<p class=\"x\">Hi <b>there</b></p>", "Hi there"},
        {"no trimming", "  x  ", "  x  "},
        {"semicolon of a reference", "&#65;;", "A,"},
        {"unknown entity's semicolon", "&copy;", "&copy,"},
        {"cyrillic", u"<h1>Кафе &quot;Уют&quot;</h1>"_qs, u"Кафе \"Уют\""_qs},
    };
    for (const Case& c : cases)
        EXPECT_EQ(HtmlToText(c.text), c.expected) << c.name;
}

TEST(StripScheme, LosesExactlyAWebScheme) {
    struct Case {
        QString url, key;
        bool web;
    } cases[] = {
        {"https://tomsk.quorvel.ru/kafe", "tomsk.quorvel.ru/kafe", true},
        {"http://other.ru/y", "other.ru/y", true},
        {"HTTPS://Host/A", "Host/A", true},
        {"Http://127.0.0.1:8443", "127.0.0.1:8443", true},
        {"https://", "", true},
        {"ftp://127.0.0.1/x", "ftp://127.0.0.1/x", false},
        {"not a url", "not a url", false},
        {"https:/one-slash", "https:/one-slash", false},
        {"//host/x", "//host/x", false},
        {"", "", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(StripScheme(c.url), c.key) << c.url.toStdString();
        EXPECT_EQ(HasWebScheme(c.url), c.web) << c.url.toStdString();
    }
}

TEST(TextUtils, SmallHelpers) {
    EXPECT_EQ(AddScheme("tomsk.quorvel.ru"), "https://tomsk.quorvel.ru");
    EXPECT_EQ(AddScheme(StripScheme("https://a.b/c")), "https://a.b/c");
    EXPECT_EQ(QuoteToApostrophe("\"a\" \"\""), "'a' ''");
    EXPECT_EQ(Trim(QString("\t\r\n x y\x01 ")), "x y");
    EXPECT_EQ(Trim(u"\u00A0x\u00A0"_qs), u"\u00A0x\u00A0"_qs);
    EXPECT_EQ(Trim(WithNul("", " x")), "x");
    EXPECT_EQ(Trim("   "), "");
}

TEST(SaveListFile, WritesMarkAndCrLfLines) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    struct Case {
        QStringList items;
        QByteArray expected;
    } cases[] = {
        {{}, "\xEF\xBB\xBF"},
        {{"a", "b"},
         "\xEF\xBB\xBF"
         "a\r\nb\r\n"},
        {{u"томск.рф/кафе"_qs, ""},
         "\xEF\xBB\xBF\xD1\x82\xD0\xBE\xD0\xBC\xD1\x81\xD0\xBA.\xD1\x80\xD1\x84/"
         "\xD0\xBA\xD0\xB0\xD1\x84\xD0\xB5\r\n\r\n"},
    };
    const QString path = dir.filePath("lists.dat");
    for (const Case& c : cases) {
        SaveListFile(c.items, path); // each save replaces the previous file whole
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), c.expected);
    }
}

TEST(SaveListFile, UnwritableTargetRaisesNamingThePath) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString missingDir = dir.filePath("absent/lists.dat");
    try {
        SaveListFile({"a"}, missingDir);
        FAIL() << "no error for a directory that does not exist";
    } catch (const EFileWriteError& e) {
        EXPECT_TRUE(e.Message().contains(missingDir)) << e.Message().toStdString();
    }
}

// Random mixes of the pieces that interact (entities escaped once and twice,
// broken entities, breaks split by line ends, stray brackets) must come out as
// the literal reading gives them.
TEST(HtmlToText, SamePiecesGiveTheLiteralResult) {
    const QString pieces[] = {
        "&nbsp;", "&bull;", "&times;", "&quot;", "&mdash;", "&ndash;", "&laquo;",  "&raquo;",
        "&lt;",   "&gt;",   "&#039;",  "&amp;",  ";",       "<br>",    "<b",       "r>",
        "\r",     "\n",     "<",       ">",      "&",       "amp;",    "nbsp;",    "lt;",
        "#",      "039",    "&#",      "a",      " ",       "br",      "&amp;lt;", "&amp;nbsp;",
    };
    std::mt19937 random(20261209);
    std::uniform_int_distribution<int> pick(0, std::size(pieces) - 1), length(0, 12);
    for (int round = 0; round < 20000; ++round) {
        QString markup;
        for (int k = length(random); k > 0; --k)
            markup += pieces[pick(random)];
        ASSERT_EQ(HtmlToText(markup), LiteralHtmlToText(markup)) << markup.toStdString();
    }
}
