#include "fetch/ssl_http_cli.h"

#include "fetch/ssl_ws_socket.h"

namespace {

std::unique_ptr<TWSocket> NewSslSocket() {
    auto socket = std::make_unique<TSslWSocket>();
    socket->SslEnable = true;
    return socket;
}

} // namespace

TSslHttpCli::TSslHttpCli() : THttpCli(NewSslSocket()) {
    static_cast<TSslWSocket*>(FCtrlSocket.get())->OnSslHandshakeDone = [this](int error) {
        Guarded([&] { HandleSslHandshakeDone(error); });
    };
}

void TSslHttpCli::PrepareConnect() {
    THttpCli::PrepareConnect();
    auto* socket = static_cast<TSslWSocket*>(FCtrlSocket.get());
    socket->SslContext = SslContext;
    socket->SslServerName = FTargetHost;
    socket->SslEnable = FProtocol == "https";
}

// The close that follows a failed handshake may still replace the error number 3
// with its own (10053 after a failure the library reported).
void TSslHttpCli::HandleSslHandshakeDone(int error) {
    if (error == 0 || FState == httpReady)
        return;
    const auto* socket = static_cast<const TSslWSocket*>(FCtrlSocket.get());
    SetFailure(HttpFailureStatus, "SSL handshake failed - " + socket->SslHandshakeRespMsg(),
               HttpAbortedError);
}
