#pragma once

#include "fetch/content_coding.h"
#include "platform/exception.h"
#include "platform/memory_stream.h"

class EZlibError : public Exception {
public:
    using Exception::Exception;
};

class EDecompressionError : public EZlibError {
public:
    using EZlibError::EZlibError;
};

// The "gzip" and "deflate" decoder. Collects the whole coded body and decodes it in
// Complete; the data's own header decides between the zlib, gzip and raw deflate
// formats, whatever the coding name said. Checksums are not verified. Belongs to
// its handler's thread.
class THttpCCodzlib : public THttpContentCoding {
public:
    using THttpContentCoding::THttpContentCoding;
    static const TContentCodingClass& Class();

    void WriteBuffer(const char* data, int64_t count) override { FStream.Write(data, count); }
    void Complete() override;

private:
    int64_t HeaderLength() const;
    void Inflate(int64_t start);

    TMemoryStream FStream;
};

// Adds the zlib decoder to the registry once per process. Called at start-up (the
// program's main, each test and benchmark program's main), before any thread or
// client exists: a client copies the registry when it is built, so one built
// earlier would neither offer nor decode gzip and deflate.
void RegisterZlibContentCoding();

// The message for a zlib result code below zero.
QString ZlibErrorText(int code);
