#include "platform/text_file.h"

#include "platform/text_codec.h"

#include <QFile>

namespace {

// A trailing odd byte cannot form a code unit and is shown as U+FFFD.
QString DecodeUtf16(const QByteArray& bytes, qsizetype start, bool bigEndian) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype units = (bytes.size() - start) / 2;
    QString text(units, Qt::Uninitialized);
    char16_t* out = reinterpret_cast<char16_t*>(text.data());
    for (qsizetype i = 0; i < units; ++i) {
        const unsigned char first = p[start + 2 * i], second = p[start + 2 * i + 1];
        out[i] = bigEndian ? char16_t(first << 8 | second) : char16_t(second << 8 | first);
    }
    if ((bytes.size() - start) % 2 != 0)
        text.append(QChar(0xFFFD));
    return text;
}

} // namespace

QString DecodeTextFileBytes(const QByteArray& bytes) {
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return DecodeUtf8(bytes.mid(3));
    if (bytes.startsWith("\xFF\xFE"))
        return DecodeUtf16(bytes, 2, false);
    if (bytes.startsWith("\xFE\xFF"))
        return DecodeUtf16(bytes, 2, true);
    return DecodeDefaultCodePage(bytes);
}

QStringList SplitLines(const QString& text) {
    QStringList lines;
    const char16_t* const begin = reinterpret_cast<const char16_t*>(text.constData());
    const char16_t* const end = begin + text.size();
    const char16_t* start = begin;
    for (const char16_t* p = begin; p < end; ++p) {
        if (*p != u'\r' && *p != u'\n')
            continue;
        lines.append(QString(reinterpret_cast<const QChar*>(start), p - start));
        if (*p == u'\r' && p + 1 < end && p[1] == u'\n')
            ++p;
        start = p + 1;
    }
    if (start < end)
        lines.append(QString(reinterpret_cast<const QChar*>(start), end - start));
    return lines;
}

QByteArray ReadFileBytes(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw ETextFileError("Не удалось прочитать файл " + path + ": " + file.errorString());
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw ETextFileError("Не удалось прочитать файл " + path + ": " + file.errorString());
    return bytes;
}

QStringList ReadTextFileLines(const QString& path) {
    return SplitLines(DecodeTextFileBytes(ReadFileBytes(path)));
}
