#include "testsite/body_coding.h"

#include <brotli/encode.h>
#include <zlib.h>

#include <algorithm>
#include <stdexcept>

QByteArray Deflate(const QByteArray& plain, TDeflateFormat format, int level) {
    // 15 window bits: a zlib wrapper; 16 more: a gzip wrapper; negative: bare deflate data.
    const int bits = format == TDeflateFormat::Zlib   ? 15
                     : format == TDeflateFormat::Gzip ? 31
                                                      : -15;
    z_stream stream{};
    if (deflateInit2(&stream, level, Z_DEFLATED, bits, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2 failed");
    QByteArray out(int(deflateBound(&stream, uLong(plain.size()))), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(plain.constData()));
    stream.avail_in = uInt(plain.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = uInt(out.size());
    const int status = deflate(&stream, Z_FINISH);
    deflateEnd(&stream);
    if (status != Z_STREAM_END)
        throw std::runtime_error("deflate failed");
    out.resize(int(stream.total_out));
    return out;
}

QByteArray GzipBytes(const QByteArray& data) {
    return Deflate(data, TDeflateFormat::Gzip, Z_BEST_COMPRESSION);
}

QByteArray BrotliBytes(const QByteArray& data) {
    size_t size = BrotliEncoderMaxCompressedSize(size_t(data.size()));
    QByteArray out(int(size), '\0');
    if (!BrotliEncoderCompress(5, BROTLI_DEFAULT_WINDOW, BROTLI_MODE_TEXT, size_t(data.size()),
                               reinterpret_cast<const uint8_t*>(data.constData()), &size,
                               reinterpret_cast<uint8_t*>(out.data())))
        throw std::runtime_error("BrotliEncoderCompress failed");
    out.resize(int(size));
    return out;
}

namespace {

constexpr int64_t ZeroPiece = 1 << 20;

} // namespace

QByteArray GzipOfZeros(int64_t size) {
    z_stream stream{};
    if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 31, 9, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2 failed");
    QByteArray zeros(int(ZeroPiece), '\0');
    QByteArray out;
    char buffer[65536];
    for (int64_t left = size;;) {
        const int64_t piece = std::min(left, ZeroPiece);
        left -= piece;
        stream.next_in = reinterpret_cast<Bytef*>(zeros.data());
        stream.avail_in = uInt(piece);
        const int flush = left == 0 ? Z_FINISH : Z_NO_FLUSH;
        do {
            stream.next_out = reinterpret_cast<Bytef*>(buffer);
            stream.avail_out = sizeof buffer;
            deflate(&stream, flush);
            out.append(buffer, qsizetype(sizeof buffer - stream.avail_out));
        } while (stream.avail_out == 0);
        if (left == 0)
            break;
    }
    deflateEnd(&stream);
    return out;
}

QByteArray BrotliOfZeros(int64_t size) {
    BrotliEncoderState* state = BrotliEncoderCreateInstance(nullptr, nullptr, nullptr);
    if (!state)
        throw std::runtime_error("BrotliEncoderCreateInstance failed");
    BrotliEncoderSetParameter(state, BROTLI_PARAM_QUALITY, 5);
    const QByteArray zeros(int(ZeroPiece), '\0');
    QByteArray out;
    for (int64_t left = size;;) {
        const int64_t piece = std::min(left, ZeroPiece);
        left -= piece;
        size_t available = size_t(piece);
        const uint8_t* next = reinterpret_cast<const uint8_t*>(zeros.constData());
        const BrotliEncoderOperation op =
            left == 0 ? BROTLI_OPERATION_FINISH : BROTLI_OPERATION_PROCESS;
        do {
            size_t room = 0;
            BrotliEncoderCompressStream(state, op, &available, &next, &room, nullptr, nullptr);
            size_t taken = 0;
            const uint8_t* coded = BrotliEncoderTakeOutput(state, &taken);
            out.append(reinterpret_cast<const char*>(coded), qsizetype(taken));
        } while (available > 0 || BrotliEncoderHasMoreOutput(state) ||
                 (op == BROTLI_OPERATION_FINISH && !BrotliEncoderIsFinished(state)));
        if (left == 0)
            break;
    }
    BrotliEncoderDestroyInstance(state);
    return out;
}

QByteArray SampleHtml(int size) {
    QByteArray html = "<!DOCTYPE html><html><body>\n";
    uint32_t seed = 12345;
    while (html.size() < size) {
        seed = seed * 1103515245u + 12345u;
        html += "<div class=\"firm\"><a href=\"/firm/" + QByteArray::number(seed % 100000) +
                "\">\xd0\x9e\xd0\xbe\xd0\xbe " + QByteArray::number(seed % 977) + "</a></div>\n";
    }
    html.resize(size);
    return html;
}
