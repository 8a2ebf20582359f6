#include "tests/fetch/socket_recorder.h"

#include "tests/support/event_wait.h"
#include "testsite/loopback.h"

TSocketRecorder::TSocketRecorder(TWSocket& socket) {
    Wire(socket);
}

TSocketRecorder::TSocketRecorder(TSslWSocket& socket) {
    Wire(socket);
    socket.OnSslHandshakeDone = [this](int error) {
        Events << QStringLiteral("handshake %1").arg(error);
    };
}

void TSocketRecorder::Wire(TWSocket& socket) {
    auto record = [this](const char* name) {
        return [this, name](int error) { Events << QStringLiteral("%1 %2").arg(name).arg(error); };
    };
    socket.OnDnsLookupDone = record("lookup");
    socket.OnSessionConnected = record("connected");
    socket.OnSessionClosed = record("closed");
    socket.OnDataSent = record("sent");
    socket.OnDataAvailable = [this, &socket](int) {
        char buffer[4096];
        const int piece =
            ReadPerEvent > 0 ? std::min<int>(ReadPerEvent, sizeof buffer) : int(sizeof buffer);
        for (int got; (got = socket.Receive(buffer, piece)) > 0;) {
            Received.append(buffer, got);
            if (ReadPerEvent > 0)
                break;
        }
    };
    socket.OnEventFailure = [this](const std::exception& failure) {
        const auto* own = dynamic_cast<const Exception*>(&failure);
        Failures << (own ? own->Message() : QString::fromUtf8(failure.what()));
    };
}

bool TSocketRecorder::WaitFor(const QString& event, int limitMs) {
    return PumpUntil([&] { return Has(event); }, limitMs);
}

bool TSocketRecorder::WaitForClosed(int limitMs) {
    return PumpUntil(
        [&] {
            for (const QString& event : Events)
                if (event.startsWith(QStringLiteral("closed ")))
                    return true;
            return false;
        },
        limitMs);
}

QString UnusedPort() {
    return QString::number(FreeLoopbackPort());
}
