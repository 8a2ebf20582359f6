#include "tests/fetch/compress_helpers.h"

#include <zlib.h>

#include <stdexcept>

QByteArray Deflate(const QByteArray& plain, TDeflateFormat format) {
    const int bits = format == TDeflateFormat::Zlib   ? 15
                     : format == TDeflateFormat::Gzip ? 31
                                                      : -15;
    z_stream strm{};
    if (deflateInit2(&strm, 6, Z_DEFLATED, bits, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2");
    QByteArray out(deflateBound(&strm, plain.size()), Qt::Uninitialized);
    strm.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(plain.constData()));
    strm.avail_in = plain.size();
    strm.next_out = reinterpret_cast<Bytef*>(out.data());
    strm.avail_out = out.size();
    const int rc = deflate(&strm, Z_FINISH);
    deflateEnd(&strm);
    if (rc != Z_STREAM_END)
        throw std::runtime_error("deflate");
    out.resize(strm.total_out);
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
