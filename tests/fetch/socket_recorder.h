#pragma once

#include "fetch/ssl_ws_socket.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// Wires every event of a socket to a log ("connected 0", "closed 10053", ...)
// and collects the received bytes, so a test can wait for an event and then
// compare the whole sequence.
class TSocketRecorder {
public:
    explicit TSocketRecorder(TWSocket& socket);
    // Also records the TLS handshake's outcome ("handshake 0").
    explicit TSocketRecorder(TSslWSocket& socket);

    QStringList Events;
    QByteArray Received;
    QStringList Failures;
    // Bytes taken per data-available event; 0 takes all that is waiting.
    int ReadPerEvent = 0;

    bool Has(const QString& event) const { return Events.contains(event); }
    // Waits (pumping this thread's events) until `event` has been recorded.
    bool WaitFor(const QString& event, int limitMs = 10000);
    // Waits until some "closed ..." event has been recorded.
    bool WaitForClosed(int limitMs = 10000);

private:
    void Wire(TWSocket& socket);
};

// A port on 127.0.0.1 on which nothing listens (bound once, then released).
QString UnusedPort();
