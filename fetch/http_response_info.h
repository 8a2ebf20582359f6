#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>

// What came back for a client's last request, valid after Get returns or raises.
// The client fills it on its own thread; the owner reads it between requests.
struct THttpResponseInfo {
    // 0 before a status line is parsed; HttpFailureStatus when the client itself
    // failed the request, with its own failure text as ReasonPhrase.
    int32_t StatusCode = 0;
    QString ReasonPhrase;
    QString ContentEncoding;    // exactly as received; empty when there was none
    QString ContentType;        // in lower case
    int64_t ContentLength = -1; // -1 when there was none or it was not a number
    QString TransferEncoding;   // in lower case
    QStringList RcvdHeader;     // the status line and header lines, without line ends
    int64_t RcvdCount = 0;      // body bytes received (of a chunked body, the data only)
    QString Location;           // the URL last requested: URL, or a followed location

    // A new header is awaited: what the last one said is forgotten.
    void ClearHeader() {
        RcvdHeader.clear();
        ContentType.clear();
        TransferEncoding.clear();
        ContentEncoding.clear();
        ContentLength = -1;
    }
};
