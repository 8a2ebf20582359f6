#pragma once

#include "platform/exception.h"
#include "platform/memory_stream.h"

class EBrotliError : public Exception {
public:
    using Exception::Exception;
};

class EBrotliDecompressionError : public EBrotliError {
public:
    using EBrotliError::EBrotliError;
};

// Decodes the "br" data of `source` from its current position and appends the decoded
// bytes to `dest`. Input that ends early is no error (what was decoded stays);
// bytes after the end of the brotli stream are ignored.
void DecodeBrotliStream(TMemoryStream* source, TMemoryStream* dest);

// The decoder library's name for one of its error codes ("PADDING_1", ...).
QString BrotliErrorName(int code);
