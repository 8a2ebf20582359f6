// Decoding a 1 MB HTML body through the content-decoding stage against the
// libraries' own one-shot decoders on the same data, in the same run.
#include "fetch/brotli_decode.h"
#include "fetch/content_coding.h"
#include "fetch/zlib_coding.h"
#include "testsite/body_coding.h"

#include <brotli/decode.h>
#include <zlib.h>

#include <cstdio>
#include <ctime>
#include <functional>
#include <stdexcept>

namespace {

constexpr int kBodySize = 1 << 20;
constexpr int kRounds = 40;

// CPU time of the calling thread: the machine is shared, so wall time says little.
double ThreadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec + now.tv_nsec / 1e9;
}

// Best time of several rounds, in seconds; the body must come out whole each time.
double BestSeconds(const std::function<QByteArray()>& decode, const QByteArray& expected) {
    double best = 1e9;
    for (int round = 0; round < kRounds; ++round) {
        const double start = ThreadSeconds();
        const QByteArray out = decode();
        const double took = ThreadSeconds() - start;
        if (out != expected)
            throw std::runtime_error("decoded body differs");
        best = std::min(best, took);
    }
    return best;
}

// The stage as the client drives it: 16 KB pieces as they arrive, then Complete.
QByteArray StageGzip(const QByteArray& coded) {
    TMemoryStream body;
    TMemoryStream* slot = &body;
    THttpContCodHandler handler(&slot, TWriteBufferProc());
    handler.SetEnabled(true);
    handler.Prepare("gzip");
    for (int at = 0; at < coded.size(); at += 16384)
        handler.WriteBuffer(coded.constData() + at, std::min<int>(16384, coded.size() - at));
    handler.Complete();
    return body.Data();
}

QByteArray ZlibOneShot(const QByteArray& coded) {
    QByteArray out(kBodySize, Qt::Uninitialized);
    z_stream strm{};
    inflateInit2(&strm, 31);
    strm.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(coded.constData()));
    strm.avail_in = coded.size();
    strm.next_out = reinterpret_cast<Bytef*>(out.data());
    strm.avail_out = out.size();
    inflate(&strm, Z_FINISH);
    inflateEnd(&strm);
    out.resize(strm.total_out);
    return out;
}

QByteArray StageBrotli(const QByteArray& coded) {
    TMemoryStream source, dest;
    source.Write(coded);
    source.Seek(0);
    DecodeBrotliStream(&source, &dest);
    return dest.Data();
}

QByteArray BrotliOneShot(const QByteArray& coded) {
    QByteArray out(kBodySize, Qt::Uninitialized);
    size_t size = out.size();
    BrotliDecoderDecompress(coded.size(), reinterpret_cast<const uint8_t*>(coded.constData()),
                            &size, reinterpret_cast<uint8_t*>(out.data()));
    out.resize(size);
    return out;
}

void Compare(const char* name, double ours, double peer) {
    const double mb = kBodySize / 1e6;
    std::printf("%-5s stage %8.1f MB/s   library one-shot %8.1f MB/s   ratio %.2f\n", name,
                mb / ours, mb / peer, peer / ours);
}

} // namespace

int main() {
    RegisterZlibContentCoding();
    const QByteArray html = SampleHtml(kBodySize);
    const QByteArray gzip = Deflate(html, TDeflateFormat::Gzip);
    const QByteArray br = BrotliBytes(html);
    std::printf(
        "1 MB HTML body: gzip %lld bytes, br %lld bytes, best of %d rounds, thread CPU time\n",
        static_cast<long long>(gzip.size()), static_cast<long long>(br.size()), kRounds);
    Compare("gzip", BestSeconds([&] { return StageGzip(gzip); }, html),
            BestSeconds([&] { return ZlibOneShot(gzip); }, html));
    Compare("br", BestSeconds([&] { return StageBrotli(br); }, html),
            BestSeconds([&] { return BrotliOneShot(br); }, html));
    return 0;
}
