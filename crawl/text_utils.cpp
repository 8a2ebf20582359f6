#include "crawl/text_utils.h"

#include "platform/durable_file.h"
#include "platform/text_codec.h"

#include <climits>

namespace {

// Index of `needle` at or after `from`; an empty marker is never found.
qsizetype Find(const QString& text, const QString& needle, qsizetype from) {
    if (needle.isEmpty())
        return -1;
    return text.indexOf(needle, from);
}

// Index of the last `needle` in `text`, -1 if none; `needle` is not empty. The
// toolkit's backward search updates a rolling hash at every position; comparing
// only where the needle's first unit stands is several times quicker on a page.
qsizetype FindLast(QStringView text, QStringView needle) {
    const QChar* const at = text.data();
    const QChar first = needle.front();
    for (qsizetype i = text.size() - needle.size(); i >= 0; --i) {
        if (at[i] == first && QStringView(at + i, needle.size()) == needle)
            return i;
    }
    return -1;
}

struct TNamedReference {
    QStringView Name; // after the "&", with its ";"
    char16_t Written;
};

const TNamedReference NamedReferences[] = {
    {u"amp;", u'&'},     {u"lt;", u'<'},   {u"gt;", u'>'},   {u"laquo;", 0x00AB},
    {u"raquo;", 0x00BB}, {u"nbsp;", u' '}, {u"quot;", u'"'},
};

const char16_t Replacement = 0xFFFD;

bool IsDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

// The character of a numeric reference. Codes beyond the 16-bit range become a
// surrogate pair; a code that names no character (no digits, a surrogate, beyond
// U+10FFFF) becomes U+FFFD rather than a NUL or a half pair that would corrupt
// the text further on.
void WriteCodePoint(char16_t*& out, qint64 code) {
    if (code <= 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        *out++ = Replacement;
    } else if (code > 0xFFFF) {
        *out++ = QChar::highSurrogate(char32_t(code));
        *out++ = QChar::lowSurrogate(char32_t(code));
    } else {
        *out++ = char16_t(code);
    }
}

// Decodes "&#..." at `i` (the "&"); returns the index after the reference, or -1
// when a NUL stopped it (the NUL ends the text).
qsizetype DecodeNumeric(const QString& text, qsizetype i, char16_t*& out) {
    const qsizetype n = text.size();
    qsizetype j = i + 2;
    qint64 code = 0;
    bool leading = true;
    for (; j < n && (IsDigit(text[j]) || text[j] == u'#'); ++j) {
        if (text[j] == u'#')
            leading = false;
        else if (leading && code <= 0x10FFFF)
            code = code * 10 + (text[j].unicode() - u'0');
    }
    WriteCodePoint(out, code);
    if (j < n && text[j].unicode() == 0)
        return -1;
    return j < n ? j + 1 : j;
}

// Decodes the named reference at `i` (the "&") if one matches; returns the index
// after it, or -1.
qsizetype DecodeNamed(const QString& text, qsizetype i, char16_t*& out) {
    const QStringView rest = QStringView(text).mid(i + 1);
    for (const TNamedReference& ref : NamedReferences) {
        if (rest.startsWith(ref.Name)) {
            *out++ = ref.Written;
            return i + 1 + ref.Name.size();
        }
    }
    return -1;
}

// Decodes whatever follows the "&" at `i`; returns the index to go on from, or
// -1 when the text ends there (a final "&" or a NUL).
qsizetype DecodeReference(const QString& text, qsizetype i, char16_t*& out) {
    if (i + 1 == text.size())
        return -1;
    if (text[i + 1] == u'#')
        return DecodeNumeric(text, i, out);
    const qsizetype next = DecodeNamed(text, i, out);
    if (next >= 0)
        return next;
    *out++ = u'&';
    if (text[i + 1].unicode() == 0)
        return -1;
    *out++ = text[i + 1].unicode();
    return i + 2;
}

// Tags removed in one pass: each "<" through the first ">" after it, or to the
// end when no ">" follows. The same as removing the first tag again and again.
QString RemoveTags(const QString& text) {
    QString out;
    out.reserve(text.size());
    qsizetype from = 0;
    while (true) {
        const qsizetype open = text.indexOf(u'<', from);
        if (open < 0) {
            out.append(QStringView(text).mid(from));
            break;
        }
        out.append(QStringView(text).mid(from, open - from));
        const qsizetype close = text.indexOf(u'>', open + 1);
        if (close < 0)
            break;
        from = close + 1;
    }
    return out;
}

// The entities that decoding leaves, replaced in this order: &nbsp; &bull; &times;
// &quot; &mdash; &ndash; &laquo; &raquo; &lt; &gt; &#039;. Each begins with "&",
// ends with ";" and holds neither inside, so occurrences never overlap, and no
// replacement (one character other than "&") can complete a later one: a single
// left-to-right pass gives what eleven successive ReplaceAll passes give.
QString ReplaceEntities(const QString& text) {
    static const struct {
        QStringView Entity;
        char16_t Written;
    } entities[] = {
        {u"&nbsp;", u' '},  {u"&bull;", u'-'},  {u"&times;", u'x'}, {u"&quot;", u'"'},
        {u"&mdash;", u'-'}, {u"&ndash;", u'-'}, {u"&laquo;", u'"'}, {u"&raquo;", u'"'},
        {u"&lt;", u'<'},    {u"&gt;", u'>'},    {u"&#039;", u'\''},
    };
    qsizetype amp = text.indexOf(u'&');
    if (amp < 0)
        return text;
    QString out;
    out.reserve(text.size());
    qsizetype from = 0;
    for (; amp >= 0; amp = text.indexOf(u'&', from)) {
        out.append(QStringView(text).mid(from, amp - from));
        const QStringView rest = QStringView(text).mid(amp);
        from = amp + 1;
        QChar written = u'&';
        for (const auto& e : entities) {
            if (rest.startsWith(e.Entity)) {
                written = e.Written;
                from = amp + e.Entity.size();
                break;
            }
        }
        out.append(written);
    }
    out.append(QStringView(text).mid(from));
    return out;
}

// Then ";" becomes ",", "<br>" a space, and CR and LF go, in that order. None of
// these creates or breaks a match of another when "<br>" is matched in the text
// as it comes in, so one pass does the four.
QString ReplaceLineMarks(const QString& text) {
    QString out(text.size(), Qt::Uninitialized);
    char16_t* const begin = reinterpret_cast<char16_t*>(out.data());
    char16_t* w = begin;
    const char16_t* p = reinterpret_cast<const char16_t*>(text.constData());
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = p[i];
        if (c == u';') {
            *w++ = u',';
        } else if (c == u'<' && QStringView(p + i, n - i).startsWith(u"<br>")) {
            *w++ = u' ';
            i += 3;
        } else if (c != u'\r' && c != u'\n') {
            *w++ = c;
        }
    }
    out.truncate(w - begin);
    return out;
}

} // namespace

QString ExtractBetween(const QString& text, const QString& startMarker, const QString& secondMarker,
                       const QString& endMarker) {
    qsizetype a = Find(text, startMarker, 0);
    if (a < 0)
        return {};
    qsizetype length = startMarker.size();
    if (!secondMarker.isEmpty()) {
        a = Find(text, secondMarker, a + length);
        if (a < 0)
            return {};
        length = secondMarker.size();
    }
    const qsizetype end = Find(text, endMarker, a + length);
    if (end < 0)
        return {};
    return text.mid(a + length, end - (a + length));
}

int LastPosBefore(const QString& sub, const QString& text, int limit) {
    if (sub.isEmpty() || limit <= 0)
        return 0;
    qsizetype searched = qMin<qsizetype>(limit, text.size());
    const qsizetype nul = QStringView(text).left(searched).indexOf(QChar(0));
    if (nul >= 0)
        searched = nul;
    return int(FindLast(QStringView(text).left(searched), sub) + 1);
}

QString ExtractBetweenBack(const QString& text, const QString& startMarker,
                           const QString& secondMarker, const QString& endMarker) {
    int a = LastPosBefore(startMarker, text, INT_MAX);
    if (a == 0)
        return {};
    if (!secondMarker.isEmpty()) {
        a = LastPosBefore(secondMarker, text, a - 1);
        if (a == 0)
            return {};
    }
    const int b = LastPosBefore(endMarker, text, a - 1);
    if (b == 0)
        return {};
    const qsizetype from = b + endMarker.size(); // position from 1
    return text.mid(from - 1, a - from);
}

QString HtmlDecode(const QString& text) {
    QString result(text.size(), Qt::Uninitialized);
    char16_t* const begin = reinterpret_cast<char16_t*>(result.data());
    char16_t* out = begin;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i >= 0 && i < n;) {
        const char16_t c = text[i].unicode();
        if (c == 0)
            break;
        if (c == u'&') {
            i = DecodeReference(text, i, out);
        } else {
            *out++ = c;
            ++i;
        }
    }
    result.truncate(out - begin);
    return result;
}

QString ReplaceAll(const QString& text, const QString& oldText, const QString& newText) {
    qsizetype hit = Find(text, oldText, 0);
    if (hit < 0)
        return text;
    QString out;
    out.reserve(text.size());
    qsizetype from = 0;
    while (hit >= 0) {
        out.append(QStringView(text).mid(from, hit - from));
        out.append(newText);
        from = hit + oldText.size();
        hit = text.indexOf(oldText, from);
    }
    out.append(QStringView(text).mid(from));
    return out;
}

QString HtmlToText(const QString& text) {
    return RemoveTags(ReplaceLineMarks(ReplaceEntities(HtmlDecode(text))));
}

QString QuoteToApostrophe(const QString& text) {
    return ReplaceAll(text, "\"", "'");
}

namespace {

// The length of the web scheme the text begins with; 0 when it has none.
qsizetype WebSchemeLength(const QString& url) {
    for (const QLatin1String scheme : {QLatin1String("https://"), QLatin1String("http://")}) {
        if (url.startsWith(scheme, Qt::CaseInsensitive))
            return scheme.size();
    }
    return 0;
}

} // namespace

bool HasWebScheme(const QString& url) {
    return WebSchemeLength(url) > 0;
}

QString StripScheme(const QString& url) {
    return url.mid(WebSchemeLength(url));
}

QString AddScheme(const QString& text) {
    return "https://" + text;
}

QString Trim(const QString& text) {
    qsizetype start = 0, end = text.size();
    while (start < end && text[start].unicode() <= 32)
        ++start;
    while (end > start && text[end - 1].unicode() <= 32)
        --end;
    return text.mid(start, end - start);
}

QByteArray ListFileBytes(const QStringList& list) {
    QByteArray bytes("\xEF\xBB\xBF");
    for (const QString& item : list)
        bytes.append(EncodeUtf8(item)).append("\r\n");
    return bytes;
}

void SaveListFile(const QStringList& list, const QString& path) {
    WriteFileAtomically(path, ListFileBytes(list));
}
