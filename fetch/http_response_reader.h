#pragma once

#include "fetch/response_limits.h"

#include <QByteArray>
#include <QByteArrayView>

#include <cstdint>

enum THttpChunkState {
    httpChunkGetSize,
    httpChunkGetExt,
    httpChunkGetData,
    httpChunkSkipDataEnd,
    httpChunkDone
};

// How the body of a response ends.
enum THttpBodyFraming {
    hbfLength,  // after Content-Length bytes
    hbfChunked, // after the chunk of size 0
    hbfToClose  // with the connection
};

// The reader's one state.
enum THttpReaderState {
    hrsHeader, // lines: the status line and the header (interim headers included)
    hrsBody,   // body bytes, framed as StartBody said
    hrsDone,   // the response has ended: bytes that follow are dropped
    hrsFailed  // a bound was crossed: nothing more is read
};

// What Next found.
enum THttpReadItem {
    hriNeedMore, // nothing more until more bytes arrive
    hriLine,     // a header line: Line()
    hriBody,     // body bytes: Body()
    hriBodyEnd,  // the body has ended, by its length or by its last chunk
    hriLimit     // a bound was crossed: Failure()
};

// The receiving half of an HTTP/1.x response, without any I/O: bytes go in (Space and
// Written, or Feed) and Next hands out what they hold, one item at a time: header
// lines (the bytes before an LF, without a CR right before it), then body pieces
// framed by length, by chunks or by the close, and "need more" where the bytes so far
// end inside something. Which line ends the header and how the body is framed is the
// caller's decision (StartBody, Finish); the reader keeps the bounds of a response:
// its header (bytes and lines) and its body as received.
//
// Every byte is examined once: the search for a line end goes on from where the last
// one stopped, so a header is read in time linear in its size however it is split,
// and body bytes are handed out from the buffer they were read into. Views from Line
// and Body stay valid until the next Space, Feed or Reset. Owned by one HTTP client
// and used on its thread.
class THttpResponseReader {
public:
    int64_t HeaderByteLimit = MaxResponseHeaderBytes;
    int HeaderLineLimit = MaxResponseHeaderLines;
    int64_t BodyByteLimit = MaxResponseBodyBytes;

    // A new response: header lines come next, nothing is buffered. The buffer itself
    // is kept for the next response.
    void Reset();
    // Room for at least `minimum` bytes after those buffered; `room` gets its size.
    char* Space(int minimum, int& room);
    // `count` bytes were written into the room.
    void Written(int count);
    void Feed(QByteArrayView bytes);

    THttpReadItem Next();
    QByteArrayView Line() const { return FItem; }
    QByteArrayView Body() const { return FItem; }
    // After hriLimit: the bound that was crossed.
    EResponseLimit Failure() const;

    // The header has ended and a body follows, framed as given (`contentLength` for
    // hbfLength). Bytes already buffered are its first bytes.
    void StartBody(THttpBodyFraming framing, int64_t contentLength = -1);
    // The response has ended without a body (or before its end): later bytes are dropped.
    void Finish();

    THttpReaderState State() const { return FState; }
    THttpChunkState ChunkState() const { return FChunkState; }
    // Body bytes handed out so far (for a chunked body, its chunk data).
    int64_t BodyBytes() const { return FBodyBytes; }

private:
    enum TBound { BoundNone, BoundHeaderBytes, BoundHeaderLines, BoundBodyBytes };

    qsizetype Buffered() const { return FEnd - FStart; }
    void Drop();
    THttpReadItem NextLine();
    THttpReadItem NextBody();
    THttpReadItem NextChunked();
    THttpReadItem TakeBody(int64_t count);
    THttpReadItem EndBody();
    THttpReadItem Fail(TBound bound);

    QByteArray FBuffer;
    qsizetype FStart = 0; // first byte not yet handed out
    qsizetype FEnd = 0;   // end of the bytes written
    qsizetype FScan = 0;  // where the search for a line end goes on
    THttpReaderState FState = hrsHeader;
    int64_t FHeaderBytes = 0;
    int FHeaderLines = 0;
    THttpBodyFraming FFraming = hbfToClose;
    int64_t FContentLength = -1;
    int64_t FBodyBytes = 0;
    THttpChunkState FChunkState = httpChunkGetSize;
    int64_t FChunkLength = 0;
    int64_t FChunkRcvd = 0;
    TBound FBound = BoundNone;
    QByteArrayView FItem;
};
