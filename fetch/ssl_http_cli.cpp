#include "fetch/ssl_http_cli.h"

#include "fetch/connection_pool.h"
#include "fetch/ssl_context.h"
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
    socket->SslServerName = FConn.TargetHost;
    socket->SslEnable = FConn.Protocol == "https";
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

QString TSslHttpCli::PoolKey(const QString& protocol, const QString& host,
                             const QString& port) const {
    const SSL_CTX* tls = nullptr;
    if (protocol == "https") {
        if (!SslContext)
            return {};
        try {
            SslContext->InitContext();
        } catch (const std::exception&) {
            return {}; // the connect that follows fails with the usual texts
        }
        tls = SslContext->Handle();
    }
    return TConnectionPool::Key(protocol, host, port, tls);
}

bool TSslHttpCli::AdoptIdleConnection() {
    if (!Connections)
        return false;
    const QString key = PoolKey(FConn.Protocol, FConn.HostName, FConn.Port);
    std::optional<TIdleConnection> idle = key.isEmpty() ? std::nullopt : Connections->Take(key);
    if (!idle)
        return false;
    auto* socket = static_cast<TSslWSocket*>(FCtrlSocket.get());
    PrepareConnect();
    socket->AdoptConnection(std::move(*idle));
    return true;
}

void TSslHttpCli::KeepConnection() {
    const bool wholeAndOpen = FState == httpReady && FConn.Connected && !FConn.CloseReq &&
                              FRequestDoneError == 0 && FReader.State() == hrsDone;
    if (!Connections || !wholeAndOpen)
        return;
    const QString key = PoolKey(FConn.CurrentProtocol, FConn.CurrentHost, FConn.CurrentPort);
    auto* socket = static_cast<TSslWSocket*>(FCtrlSocket.get());
    std::optional<TIdleConnection> idle = key.isEmpty() ? std::nullopt : socket->DetachConnection();
    if (!idle)
        return;
    FConn.Connected = false;
    idle->Key = key;
    Connections->Put(std::move(*idle));
}
