#include "testsite/hostile_replies.h"

#include "testsite/body_coding.h"

QByteArray LongReasonReply(int status, int64_t length) {
    return "HTTP/1.0 " + QByteArray::number(status) + ' ' + QByteArray(qsizetype(length), 'x') +
           "\r\nContent-Length: 0\r\n\r\n";
}

QByteArray BombReply(const QByteArray& codings, int64_t zeros, const QByteArray& reason) {
    const QByteArray body = codings == "br" ? BrotliOfZeros(zeros) : GzipOfZeros(zeros);
    return "HTTP/1.0 200 " + reason +
           "\r\nContent-Type: text/html\r\nContent-Encoding: " + codings +
           "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}
