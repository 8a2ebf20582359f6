#pragma once

#include <QString>

#include <system_error>

// Socket failures carry Windows Sockets error numbers throughout the fetch path,
// and the texts below are the ones the log shows: the log and the site's people
// know them by those numbers, so they stay as they are on every platform.

// The numbers the code itself gives or tells apart.
constexpr int WsaInvalidArgument = 10022;
constexpr int WsaProtocolNotSupported = 10043;
constexpr int WsaConnectionAborted = 10053;
constexpr int WsaIsConnected = 10056;
constexpr int WsaNotConnected = 10057;
constexpr int WsaConnectionRefused = 10061;
constexpr int WsaNoData = 11004;

// The Windows Sockets number of a POSIX errno value. An errno without a twin is
// returned unchanged (its text is then "Not a Winsocket error").
int WSocketErrorFromErrno(int errnoValue);

// The Windows Sockets number of a failure reported by Asio: socket errors by their
// errno, name-lookup failures by their resolver outcome (unknown host 11001, try
// again 11002, non-recoverable 11003, no data 11004, unknown service 10108). An
// end of stream is an orderly close and gives 0.
int WSocketErrorFromCode(const std::error_code& code);

// "Winsock - " and the number's text, or "Not a Winsocket error".
QString SocketErrorDesc(int error);
