#include "fetch/zlib_coding.h"

#include <zlib.h>

#include <array>
#include <mutex>

namespace {

// Usable when the linked library is of the major version the decoder was built
// against (no narrower version test: the decoder must stay active).
bool ZlibActive() {
    return zlibVersion()[0] == ZLIB_VERSION[0];
}

std::unique_ptr<THttpContentCoding> CreateZlib(TWriteBufferProc outputWriteBuffer) {
    return std::make_unique<THttpCCodzlib>(std::move(outputWriteBuffer));
}

[[noreturn]] void RaiseZlib(int code) {
    throw EDecompressionError(ZlibErrorText(code));
}

// Runs inflate once up to the first block boundary with no output room: Z_OK means a
// header of the format `windowBits` selects was read. Returns its length or -1.
int64_t ProbeHeader(const QByteArray& data, int windowBits) {
    z_stream strm{};
    int rc = inflateInit2(&strm, windowBits);
    if (rc < 0)
        RaiseZlib(rc);
    Bytef sink = 0;
    strm.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    strm.avail_in = static_cast<uInt>(data.size());
    strm.next_out = &sink;
    strm.avail_out = 0;
    rc = inflate(&strm, Z_BLOCK);
    const int64_t consumed = data.size() - strm.avail_in;
    inflateEnd(&strm);
    return rc == Z_OK ? consumed : -1;
}

} // namespace

QString ZlibErrorText(int code) {
    switch (code) {
    case Z_ERRNO:
        return "Errno";
    case Z_STREAM_ERROR:
        return "Stream error";
    case Z_DATA_ERROR:
        return "Data error";
    case Z_MEM_ERROR:
        return "Memory error";
    case Z_BUF_ERROR:
        return "Buffer error";
    case Z_VERSION_ERROR:
        return "Version error";
    default:
        return "Unknown error " + QString::number(code);
    }
}

const TContentCodingClass& THttpCCodzlib::Class() {
    static const TContentCodingClass cls{"gzip, deflate", &ZlibActive, &CreateZlib};
    return cls;
}

void RegisterZlibContentCoding() {
    static std::once_flag once;
    std::call_once(once, [] { RegisterContentCoding(THttpCCodzlib::Class(), 1.0f); });
}

int64_t THttpCCodzlib::HeaderLength() const {
    const int64_t zlibHeader = ProbeHeader(FStream.Data(), 15);
    if (zlibHeader >= 0)
        return zlibHeader;
    const int64_t gzipHeader = ProbeHeader(FStream.Data(), 31);
    return gzipHeader >= 0 ? gzipHeader : 0;
}

void THttpCCodzlib::Complete() {
    FStream.Seek(0);
    Inflate(HeaderLength());
}

// Decodes the deflate data from `start`; whatever follows its end (checksums, length,
// stray bytes) stays unread, and the stream position marks where it begins. The
// output goes out a buffer at a time, and a distance reaching back before the first
// byte decoded is a data error (never bytes from outside the output).
void THttpCCodzlib::Inflate(int64_t start) {
    z_stream strm{};
    int rc = inflateInit2(&strm, -15);
    if (rc < 0)
        RaiseZlib(rc);
    const QByteArray& data = FStream.Data();
    strm.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData())) + start;
    strm.avail_in = static_cast<uInt>(data.size() - start);
    std::array<char, 32768> out;
    try {
        do {
            strm.next_out = reinterpret_cast<Bytef*>(out.data());
            strm.avail_out = static_cast<uInt>(out.size());
            rc = inflate(&strm, Z_NO_FLUSH);
            const int64_t produced = int64_t(out.size()) - strm.avail_out;
            if (produced > 0)
                FOutputWriteBuffer(out.data(), produced);
        } while (rc == Z_OK && (strm.avail_in > 0 || strm.avail_out == 0));
    } catch (...) {
        inflateEnd(&strm);
        throw;
    }
    const unsigned unread = strm.avail_in;
    inflateEnd(&strm);
    FStream.Seek(data.size() - unread);
    // Input that ends before the last block is the library's "no progress" case.
    if (rc == Z_OK)
        rc = Z_BUF_ERROR;
    if (rc < 0)
        RaiseZlib(rc);
}
