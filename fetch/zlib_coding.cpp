#include "fetch/zlib_coding.h"

#include <zlib.h>

#include <array>
#include <exception>
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

// State shared with the call-back inflater's input and output functions.
struct TInflateContext {
    unsigned char* Input;
    unsigned InputLength;
    const TWriteBufferProc* Output;
    std::exception_ptr Failure;
};

unsigned InflateInput(void* desc, z_const unsigned char** buf) {
    auto* ctx = static_cast<TInflateContext*>(desc);
    *buf = ctx->Input;
    const unsigned length = ctx->InputLength;
    ctx->InputLength = 0;
    return length;
}

// A failure of the output target must not unwind through zlib's frames: it is kept
// and raised again once inflateBack has returned.
int InflateOutput(void* desc, unsigned char* buf, unsigned len) {
    auto* ctx = static_cast<TInflateContext*>(desc);
    try {
        (*ctx->Output)(reinterpret_cast<const char*>(buf), len);
        return 0;
    } catch (...) {
        ctx->Failure = std::current_exception();
        return 1;
    }
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
// stray bytes) stays unread, and the stream position marks where it begins.
void THttpCCodzlib::Inflate(int64_t start) {
    std::array<unsigned char, 32768> window;
    z_stream strm{};
    int rc = inflateBackInit(&strm, 15, window.data());
    if (rc < 0)
        RaiseZlib(rc);
    const QByteArray& data = FStream.Data();
    TInflateContext ctx{reinterpret_cast<unsigned char*>(const_cast<char*>(data.constData())) +
                            start,
                        static_cast<unsigned>(data.size() - start),
                        &FOutputWriteBuffer,
                        {}};
    strm.next_in = nullptr;
    strm.avail_in = 0;
    rc = inflateBack(&strm, &InflateInput, &ctx, &InflateOutput, &ctx);
    const unsigned unread = strm.next_in ? strm.avail_in : 0;
    inflateBackEnd(&strm);
    if (ctx.Failure)
        std::rethrow_exception(ctx.Failure);
    FStream.Seek(data.size() - unread - ctx.InputLength);
    if (rc < 0)
        RaiseZlib(rc);
}
