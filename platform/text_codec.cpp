#include "platform/text_codec.h"

#include <cstdint>
#include <cstring>

namespace {

const char16_t ReplacementChar = 0xFFFD;

// Windows-1251 bytes 0x80..0xFF.
const char16_t Cp1251High[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039,
    0x040A, 0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408,
    0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB,
    0x0458, 0x0405, 0x0455, 0x0457, 0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423,
    0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437, 0x0438, 0x0439, 0x043A, 0x043B,
    0x043C, 0x043D, 0x043E, 0x043F, 0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F};

struct TSequenceStart {
    int Continuations; // -1: the byte cannot start a sequence
    uint32_t Bits;
    unsigned char Low, High; // allowed range of the first continuation byte
};

unsigned char Byte(int value) {
    return static_cast<unsigned char>(value);
}

// The lead byte decides the length and the range of the second byte, which rules
// out overlongs, surrogates and codes beyond U+10FFFF.
TSequenceStart ClassifyLead(unsigned char b) {
    if (b >= 0xC2 && b <= 0xDF)
        return {1, b & 0x1Fu, 0x80, 0xBF};
    if (b >= 0xE0 && b <= 0xEF)
        return {2, b & 0x0Fu, Byte(b == 0xE0 ? 0xA0 : 0x80), Byte(b == 0xED ? 0x9F : 0xBF)};
    if (b >= 0xF0 && b <= 0xF4)
        return {3, b & 0x07u, Byte(b == 0xF0 ? 0x90 : 0x80), Byte(b == 0xF4 ? 0x8F : 0xBF)};
    return {-1, 0, 0, 0};
}

// Decodes into `out` (room for one unit per byte); returns the units written and
// whether anything was malformed.
qsizetype DecodeUtf8Into(const QByteArray& bytes, char16_t* out, bool* malformed) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype n = bytes.size();
    qsizetype i = 0, w = 0;
    while (i < n) {
        // Markup is mostly ASCII: eight such bytes at a time.
        uint64_t eight;
        if (i + 8 <= n && (memcpy(&eight, p + i, 8), (eight & 0x8080808080808080u) == 0)) {
            for (int k = 0; k < 8; ++k)
                out[w + k] = p[i + k];
            i += 8;
            w += 8;
            continue;
        }
        const unsigned char b = p[i];
        if (b < 0x80) {
            out[w++] = b;
            ++i;
            continue;
        }
        // Cyrillic letters: two-byte sequences, the common case of the site's text.
        if (b >= 0xC2 && b <= 0xDF && i + 1 < n && (p[i + 1] & 0xC0) == 0x80) {
            out[w++] = char16_t(((b & 0x1Fu) << 6) | (p[i + 1] & 0x3Fu));
            i += 2;
            continue;
        }
        TSequenceStart s = ClassifyLead(b);
        qsizetype j = i + 1;
        int taken = 0;
        uint32_t cp = s.Bits;
        while (taken < s.Continuations && j < n && p[j] >= s.Low && p[j] <= s.High) {
            cp = (cp << 6) | (p[j] & 0x3Fu);
            s.Low = 0x80;
            s.High = 0xBF;
            ++j;
            ++taken;
        }
        if (s.Continuations < 0 || taken < s.Continuations) {
            out[w++] = ReplacementChar;
            *malformed = true;
        } else if (cp > 0xFFFF) {
            out[w++] = char16_t(0xD800 + ((cp - 0x10000) >> 10));
            out[w++] = char16_t(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            out[w++] = char16_t(cp);
        }
        i = j;
    }
    return w;
}

// Writes the UTF-8 bytes of `cp` at `out`; returns the position after them.
char* PutUtf8(char* out, uint32_t cp) {
    if (cp < 0x80) {
        *out++ = char(cp);
    } else if (cp < 0x800) {
        *out++ = char(0xC0 | (cp >> 6));
        *out++ = char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        *out++ = char(0xE0 | (cp >> 12));
        *out++ = char(0x80 | ((cp >> 6) & 0x3F));
        *out++ = char(0x80 | (cp & 0x3F));
    } else {
        *out++ = char(0xF0 | (cp >> 18));
        *out++ = char(0x80 | ((cp >> 12) & 0x3F));
        *out++ = char(0x80 | ((cp >> 6) & 0x3F));
        *out++ = char(0x80 | (cp & 0x3F));
    }
    return out;
}

} // namespace

QString DecodeUtf8(const QByteArray& bytes) {
    QString text(bytes.size(), Qt::Uninitialized);
    bool malformed = false;
    const qsizetype length =
        DecodeUtf8Into(bytes, reinterpret_cast<char16_t*>(text.data()), &malformed);
    text.truncate(length);
    return text;
}

bool IsValidUtf8(const QByteArray& bytes) {
    QString scratch(bytes.size(), Qt::Uninitialized);
    bool malformed = false;
    DecodeUtf8Into(bytes, reinterpret_cast<char16_t*>(scratch.data()), &malformed);
    return !malformed;
}

// Written in place into room for the longest result (three bytes per unit; a
// surrogate pair takes four for its two units), then cut to length.
QByteArray EncodeUtf8(const QString& text) {
    QByteArray out(text.size() * 3, Qt::Uninitialized);
    char* o = out.data();
    const char16_t* in = reinterpret_cast<const char16_t*>(text.constData());
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t u = in[i];
        if (u < 0x80) {
            *o++ = char(u);
        } else if (u < 0xD800 || u > 0xDFFF) {
            o = PutUtf8(o, u);
        } else if (u <= 0xDBFF && i + 1 < n && QChar::isLowSurrogate(in[i + 1])) {
            o = PutUtf8(o, QChar::surrogateToUcs4(u, in[i + 1]));
            ++i;
        } else {
            o = PutUtf8(o, ReplacementChar);
        }
    }
    out.truncate(o - out.constData());
    return out;
}

QString DecodeWindows1251(const QByteArray& bytes) {
    QString text(bytes.size(), Qt::Uninitialized);
    char16_t* out = reinterpret_cast<char16_t*>(text.data());
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
    for (qsizetype i = 0; i < bytes.size(); ++i)
        out[i] = p[i] < 0x80 ? char16_t(p[i]) : Cp1251High[p[i] - 0x80];
    return text;
}

QString DecodeDefaultCodePage(const QByteArray& bytes) {
    QString text(bytes.size(), Qt::Uninitialized);
    bool malformed = false;
    const qsizetype length =
        DecodeUtf8Into(bytes, reinterpret_cast<char16_t*>(text.data()), &malformed);
    if (malformed)
        return DecodeWindows1251(bytes);
    text.truncate(length);
    return text;
}

QByteArray EncodeDefaultCodePage(const QString& text) {
    return EncodeUtf8(text);
}

QString LeftWhole(const QString& text, qsizetype max) {
    if (text.size() <= max)
        return text;
    const bool splitsPair =
        max > 0 && text[max - 1].isHighSurrogate() && text[max].isLowSurrogate();
    return text.left(splitsPair ? max - 1 : max);
}
