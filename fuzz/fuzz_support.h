#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// What the fuzz targets share: a broken property ends the run as a crash, so
// libFuzzer keeps the input that broke it, and the fuzzer's own choice of where
// the bytes of an input are cut into pieces.
//
// Every target reads its settings from the end of its input (FuzzedDataProvider
// takes numbers from there), so a seed is a file as the program meets it followed
// by a few zero bytes, which choose the defaults.

[[noreturn]] inline void FuzzFailure(const char* property, const QString& detail = {}) {
    std::fprintf(stderr, "\n*** property broken: %s\n", property);
    // Control characters shown as \xNN, so a NUL cannot cut the detail short.
    QString shown;
    for (QChar c : detail) {
        if (c.unicode() < 0x20 && c != u'\n')
            shown += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QChar(u'0'));
        else
            shown += c;
    }
    if (!shown.isEmpty())
        std::fprintf(stderr, "*** %s\n", shown.toUtf8().constData());
    std::abort();
}

inline void Require(bool holds, const char* property, const QString& detail = {}) {
    if (!holds)
        FuzzFailure(property, detail);
}

// Up to `maxCuts` raw cut positions; PieceSizes maps them onto an input.
inline QList<int> TakeCuts(FuzzedDataProvider& in, int maxCuts) {
    QList<int> cuts(in.ConsumeIntegralInRange<int>(0, maxCuts));
    for (int& cut : cuts)
        cut = in.ConsumeIntegral<uint16_t>();
    return cuts;
}

// The sizes of the pieces that the cuts make of `length` bytes (a cut may fall
// anywhere, also twice on one place, which makes an empty piece).
inline QList<int> PieceSizes(const QList<int>& cuts, int length) {
    QList<int> at;
    for (int cut : cuts)
        at.append(cut % (length + 1));
    std::sort(at.begin(), at.end());
    at.append(length);
    QList<int> sizes;
    int from = 0;
    for (int to : at) {
        sizes.append(to - from);
        from = to;
    }
    return sizes;
}

// Text of any code units, lone surrogates included: two bytes a unit.
inline QString Utf16Text(const QByteArray& bytes) {
    QString text(bytes.size() / 2, Qt::Uninitialized);
    std::memcpy(text.data(), bytes.constData(), size_t(text.size()) * 2);
    return text;
}

// A text as UTF-8 can carry it: a lone surrogate becomes U+FFFD.
inline QString WithoutLoneSurrogates(QString text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        else if (text[i].isSurrogate())
            text[i] = QChar(0xFFFD);
    }
    return text;
}

// A few bytes from the settings end of the input, so the front stays the file.
inline QByteArray TakeBytes(FuzzedDataProvider& in, int maxLength) {
    QByteArray bytes(in.ConsumeIntegralInRange<int>(0, maxLength), Qt::Uninitialized);
    for (char& b : bytes)
        b = char(in.ConsumeIntegral<uint8_t>());
    return bytes;
}

inline QByteArray TakeRest(FuzzedDataProvider& in) {
    const std::string rest = in.ConsumeRemainingBytesAsString();
    return QByteArray(rest.data(), qsizetype(rest.size()));
}
