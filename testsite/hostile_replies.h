#pragma once

#include <QByteArray>

#include <cstdint>

// Whole responses of a server that means harm, written by a scripted server or the
// synthetic site, for the tests and benchmarks that show the client stays bounded.

// A status line whose reason phrase is `length` times 'x', then an empty body.
QByteArray LongReasonReply(int status, int64_t length);

// A body of `zeros` zero bytes coded once, in br for "br" and in gzip otherwise,
// under the Content-Encoding `codings`. Labelled "gzip, gzip", the first decoder's
// output is all those zeros, which the second decoder would hold before decoding.
QByteArray BombReply(const QByteArray& codings, int64_t zeros,
                     const QByteArray& reason = QByteArrayLiteral("OK"));
