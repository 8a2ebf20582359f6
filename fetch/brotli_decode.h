#pragma once

#include "fetch/response_limits.h"
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

// The Content-Encoding name of the coding DecodeBrotliStream undoes.
inline constexpr char BrotliCoding[] = "br";

// Decodes the "br" data of `source` from its current position and appends the decoded
// bytes to `dest`. Input that ends early is no error (what was decoded stays);
// bytes after the end of the brotli stream are ignored. Output that would make
// `dest` larger than `limit` bytes raises EResponseLimit before it is appended,
// however little input it came from.
void DecodeBrotliStream(TMemoryStream* source, TMemoryStream* dest,
                        int64_t limit = MaxResponseBodyBytes);

// The decoder library's name for one of its error codes ("PADDING_1", ...).
QString BrotliErrorName(int code);
