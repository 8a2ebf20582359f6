#include "fetch/http_response_reader.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// A chunk size this large is no real chunk; saturating keeps the arithmetic defined.
constexpr int64_t ChunkSizeCeiling = std::numeric_limits<int64_t>::max() / 16 - 16;

} // namespace

void THttpResponseReader::Reset() {
    Drop();
    FState = hrsHeader;
    FHeaderBytes = 0;
    FHeaderLines = 0;
    FFraming = hbfToClose;
    FContentLength = -1;
    FBodyBytes = 0;
    FChunkState = httpChunkGetSize;
    FChunkLength = 0;
    FChunkRcvd = 0;
    FBound = BoundNone;
}

void THttpResponseReader::Drop() {
    FStart = FEnd = FScan = 0;
    FItem = {};
}

// What is buffered moves to the front only when the room behind it runs out, so a
// byte is moved at most once for every line handed out before it.
char* THttpResponseReader::Space(int minimum, int& room) {
    if (FStart == FEnd) {
        FStart = FEnd = FScan = 0;
    } else if (FStart > 0 && FBuffer.size() - FEnd < minimum) {
        std::memmove(FBuffer.data(), FBuffer.constData() + FStart, size_t(Buffered()));
        FEnd -= FStart;
        FScan -= FStart;
        FStart = 0;
    }
    if (FBuffer.size() - FEnd < minimum)
        FBuffer.resize(FEnd + minimum);
    room = int(std::min<qsizetype>(FBuffer.size() - FEnd, std::numeric_limits<int>::max()));
    return FBuffer.data() + FEnd;
}

void THttpResponseReader::Written(int count) {
    FEnd += std::max(count, 0);
}

void THttpResponseReader::Feed(QByteArrayView bytes) {
    if (bytes.isEmpty())
        return;
    int room = 0;
    std::memcpy(Space(int(bytes.size()), room), bytes.data(), size_t(bytes.size()));
    Written(int(bytes.size()));
}

THttpReadItem THttpResponseReader::Next() {
    FItem = {};
    switch (FState) {
    case hrsHeader:
        return NextLine();
    case hrsBody:
        return NextBody();
    case hrsDone:
        Drop();
        return hriNeedMore;
    case hrsFailed:
        return hriLimit;
    }
    return hriNeedMore;
}

THttpReadItem THttpResponseReader::NextLine() {
    const char* data = FBuffer.constData();
    const auto* lf =
        static_cast<const char*>(std::memchr(data + FScan, '\n', size_t(FEnd - FScan)));
    if (!lf) {
        FScan = FEnd;
        return FHeaderBytes + Buffered() > HeaderByteLimit ? Fail(BoundHeaderBytes) : hriNeedMore;
    }
    const qsizetype end = lf - data;
    FHeaderBytes += end + 1 - FStart;
    if (FHeaderBytes > HeaderByteLimit)
        return Fail(BoundHeaderBytes);
    qsizetype length = end - FStart;
    if (length > 0 && data[end - 1] == '\r')
        --length;
    if (length > 0 && ++FHeaderLines > HeaderLineLimit)
        return Fail(BoundHeaderLines);
    FItem = QByteArrayView(data + FStart, length);
    FStart = FScan = end + 1;
    return hriLine;
}

void THttpResponseReader::StartBody(THttpBodyFraming framing, int64_t contentLength) {
    FState = hrsBody;
    FFraming = framing;
    FContentLength = contentLength;
    FBodyBytes = 0;
    FChunkState = httpChunkGetSize;
    FChunkLength = 0;
    FChunkRcvd = 0;
}

void THttpResponseReader::Finish() {
    FState = hrsDone;
    Drop();
}

THttpReadItem THttpResponseReader::NextBody() {
    if (FFraming == hbfChunked)
        return NextChunked();
    int64_t count = Buffered();
    if (FFraming == hbfLength) {
        const int64_t left = FContentLength - FBodyBytes;
        if (left <= 0)
            return EndBody();
        count = std::min(count, left);
    }
    return count > 0 ? TakeBody(count) : hriNeedMore;
}

// The chunk framing is consumed byte by byte and kept across pieces, so a size, a
// line end or data may be split anywhere; trailer lines are never read as header.
THttpReadItem THttpResponseReader::NextChunked() {
    const char* data = FBuffer.constData();
    while (FStart < FEnd) {
        switch (FChunkState) {
        case httpChunkGetSize: {
            const int digit = HexDigit(data[FStart]);
            if (digit < 0) {
                FChunkState = httpChunkGetExt;
                break;
            }
            FChunkLength =
                FChunkLength < ChunkSizeCeiling ? FChunkLength * 16 + digit : ChunkSizeCeiling;
            ++FStart;
            break;
        }
        case httpChunkGetExt:
            if (data[FStart++] != '\n')
                break;
            if (FChunkLength == 0) {
                FChunkState = httpChunkDone;
                return EndBody();
            }
            FChunkState = httpChunkGetData;
            break;
        case httpChunkGetData: {
            const THttpReadItem item =
                TakeBody(std::min<int64_t>(FChunkLength - FChunkRcvd, Buffered()));
            FChunkRcvd += FItem.size();
            if (FChunkRcvd == FChunkLength)
                FChunkState = httpChunkSkipDataEnd;
            return item;
        }
        case httpChunkSkipDataEnd:
            if (data[FStart++] == '\n') {
                FChunkLength = 0;
                FChunkRcvd = 0;
                FChunkState = httpChunkGetSize;
            }
            break;
        case httpChunkDone:
            return EndBody();
        }
    }
    return hriNeedMore;
}

THttpReadItem THttpResponseReader::TakeBody(int64_t count) {
    if (FBodyBytes >= BodyByteLimit)
        return Fail(BoundBodyBytes);
    count = std::min(count, BodyByteLimit - FBodyBytes);
    FItem = QByteArrayView(FBuffer.constData() + FStart, qsizetype(count));
    FStart += qsizetype(count);
    FBodyBytes += count;
    return hriBody;
}

THttpReadItem THttpResponseReader::EndBody() {
    Finish();
    return hriBodyEnd;
}

THttpReadItem THttpResponseReader::Fail(TBound bound) {
    FState = hrsFailed;
    FBound = bound;
    Drop();
    return hriLimit;
}

EResponseLimit THttpResponseReader::Failure() const {
    switch (FBound) {
    case BoundHeaderLines:
        return EResponseLimit::HeaderLines();
    case BoundBodyBytes:
        return EResponseLimit::BodyBytes();
    default:
        return EResponseLimit::HeaderBytes();
    }
}
