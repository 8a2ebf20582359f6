#pragma once

#include "fetch/http_errors.h"
#include "platform/exception.h"

#include <cstdint>

// The bounds every response must keep. The site's peer is not verified, so anyone on
// the path may answer; a server that crosses one of them fails the attempt like any
// other failure instead of holding a fetch thread or its memory without end.
constexpr int64_t MaxResponseHeaderBytes = int64_t(1) << 20; // status line and header
constexpr int MaxResponseHeaderLines = 1000;                 // status line and header lines
constexpr int64_t MaxResponseBodyBytes = int64_t(64) << 20;  // as received, and decoded per stage
constexpr int MaxContentCodings = 4;                         // names in one Content-Encoding
constexpr int MaxReasonPhraseChars = 200;                    // of the status line, as kept
constexpr uint32_t MaxRequestMs = 10 * 60 * 1000;            // one Get, relocations included

// A response crossed one of the bounds. The message says which; ErrorCode is the
// request's error number for it (fetch/http_errors.h).
class EResponseLimit : public Exception {
public:
    EResponseLimit(QString message, int errorCode)
        : Exception(std::move(message)), FErrorCode(errorCode) {}
    int ErrorCode() const { return FErrorCode; }

    static EResponseLimit HeaderBytes() {
        return {QStringLiteral("Response header larger than 1 MiB"), HttpHeaderTooLargeError};
    }
    static EResponseLimit HeaderLines() {
        return {QStringLiteral("Response header longer than 1000 lines"), HttpHeaderTooLargeError};
    }
    static EResponseLimit BodyBytes() {
        return {QStringLiteral("Response body larger than 64 MiB"), HttpBodyTooLargeError};
    }
    static EResponseLimit Codings() {
        return {QString::fromLatin1(HttpTooManyCodingsReason), HttpHeaderTooLargeError};
    }
    static EResponseLimit Duration() {
        return {QStringLiteral("Request took longer than 10 minutes"), HttpRequestTooLongError};
    }

private:
    int FErrorCode;
};
