#include "testsite/body_coding.h"

#include <brotli/encode.h>
#include <zlib.h>

#include <stdexcept>

QByteArray GzipBytes(const QByteArray& data) {
    z_stream stream{};
    // 16 + 15 window bits: a gzip wrapper around the deflate data.
    if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2 failed");
    QByteArray out(int(deflateBound(&stream, uLong(data.size()))), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = uInt(out.size());
    int status = deflate(&stream, Z_FINISH);
    deflateEnd(&stream);
    if (status != Z_STREAM_END)
        throw std::runtime_error("deflate failed");
    out.resize(int(stream.total_out));
    return out;
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
