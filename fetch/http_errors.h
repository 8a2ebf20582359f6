#pragma once

#include "platform/exception.h"

#include <cstdint>

// The one error type a client's Get raises: the message is the client's
// ReasonPhrase, the code the request's error number (below, or a socket error
// number), else the HTTP status code.
class EHttpException : public Exception {
public:
    EHttpException(QString message, uint16_t errorCode)
        : Exception(std::move(message)), FErrorCode(errorCode) {}
    uint16_t ErrorCode() const { return FErrorCode; }

private:
    uint16_t FErrorCode;
};

// The request's own error numbers (EHttpException::ErrorCode, the client's
// FRequestDoneError) and the reasons that go with the ones the caller tells apart.
// Socket failures carry their socket error number instead (fetch/socket_error.h);
// a request that ended on an HTTP error status carries that status.
constexpr int HttpBusyError = 1;            // Get while a request runs
constexpr int HttpAbortedError = 3;         // aborted: by the caller, a failure, a handshake
constexpr int HttpVersionError = 5;         // a RequestVer other than "1.0" or "1.1"
constexpr int HttpTimeoutError = 8;         // no byte moved within Timeout
constexpr int HttpNoStatusError = 9;        // closed before a status line came whole
constexpr int HttpHeaderTooLargeError = 10; // the response bounds (fetch/response_limits.h)
constexpr int HttpBodyTooLargeError = 11;
constexpr int HttpRequestTooLongError = 12;

// The status a request reports when it failed before any response: the site's
// "page not there", whatever kept it from answering.
constexpr int HttpFailureStatus = 404;

// The reason of a Get while a request runs. The blank pair is where a named
// component would give its name; the system's clients have none.
inline constexpr char HttpBusyReason[] = "HTTP component  is busy";
// The inactivity time-out's reason phrase.
inline constexpr char HttpTimeoutReason[] = "Request aborted on timeout";
// The reason phrase of a connection closed before a response came whole.
inline constexpr char HttpNoStatusReason[] = "HTTP no status code (connection closed prematurely)";
// The reason of a response whose Content-Encoding names more codings than the
// client undoes (MaxContentCodings, fetch/response_limits.h).
inline constexpr char HttpTooManyCodingsReason[] = "Content-Encoding lists more than 4 codings";
