#include "fetch/ssl_ws_socket.h"

#include "fetch/connection_pool.h"
#include "fetch/socket_error.h"
#include "fetch/ssl_context.h"
#include "fetch/ssl_engine.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

namespace {

constexpr int ClosedUnexpectedly = 1;

// `verifyResult`: the outcome of the check of the server's certificate, which only a
// context that checks it lets fail the handshake; the library's own text for it names
// what failed ("self-signed certificate", "hostname mismatch").
QString HandshakeFailureText(int reason, const QStringList& libraryTexts, long verifyResult) {
    if (reason == SSL_R_CERTIFICATE_VERIFY_FAILED && verifyResult != X509_V_OK)
        return QStringLiteral("certificate verify failed: ") +
               QString::fromUtf8(X509_verify_cert_error_string(verifyResult));
    switch (reason) {
    case SSL_R_HTTPS_PROXY_REQUEST:
        return QStringLiteral("Error, HTTPS proxy request, no SSL handshake");
    case SSL_R_HTTP_REQUEST:
        return QStringLiteral("Error, HTTP request, no SSL handshake");
    case SSL_R_UNKNOWN_PROTOCOL:
        return QStringLiteral("Error, unknown SSL protocol");
    case SSL_R_WRONG_VERSION_NUMBER:
        return QStringLiteral("Error, wrong SSL version");
    default:
        return libraryTexts.join(QStringLiteral("\r\n"));
    }
}

// The value of `key=` in the library's one-line cipher description.
QString DescriptionField(const QStringList& fields, const QString& key) {
    for (const QString& field : fields)
        if (field.startsWith(key + '='))
            return field.mid(key.size() + 1);
    return QString();
}

TSslSessionInfo DescribeSession(SSL* ssl) {
    TSslSessionInfo info;
    const SSL_CIPHER* cipher = SSL_get_current_cipher(ssl);
    info.Version = QString::fromLatin1(SSL_get_version(ssl));
    info.Resumed = SSL_session_reused(ssl) == 1;
    if (!cipher)
        return info;
    char description[256];
    SSL_CIPHER_description(cipher, description, sizeof description);
    const QStringList fields = QString::fromLatin1(description).simplified().split(' ');
    info.Cipher = QString::fromLatin1(SSL_CIPHER_get_name(cipher));
    info.KeyExchange = DescriptionField(fields, QStringLiteral("Kx"));
    info.KeyAuth = DescriptionField(fields, QStringLiteral("Au"));
    info.Encryption = DescriptionField(fields, QStringLiteral("Enc"));
    info.MessageAuth = DescriptionField(fields, QStringLiteral("Mac"));
    info.SecretBits = SSL_CIPHER_get_bits(cipher, &info.TotalBits);
    return info;
}

QString ConnectedMessage(const TSslSessionInfo& info) {
    if (info.KeyAuth == QStringLiteral("any"))
        return QStringLiteral("SSL Connected OK with %1, cipher %2, key auth %3, key exchange %4, "
                              "encryption %5, message auth %6")
            .arg(info.Version, info.Cipher, info.KeyAuth, info.KeyExchange, info.Encryption,
                 info.MessageAuth);
    return QStringLiteral("SSL Connected OK with %1, cipher %2, encryption %3, message auth %4")
        .arg(info.Version, info.Cipher, info.Encryption, info.MessageAuth);
}

} // namespace

TSslWSocket::TSslWSocket() = default;

TSslWSocket::~TSslWSocket() = default;

void TSslWSocket::Connect() {
    ResetSession();
    TWSocket::Connect();
}

void TSslWSocket::ResetSession() {
    FEngine.reset();
    FCloseWhenWritten = false;
    FSslState = sslNone;
    FSession = TSslSessionInfo();
}

void TSslWSocket::HandleConnected(int error) {
    if (!SslEnable) {
        TWSocket::HandleConnected(error);
        return;
    }
    if (!Fire(OnSessionConnected, error) || State() != wsConnected)
        return;
    try {
        StartSslHandshake();
    } catch (const std::exception& failure) {
        // No session can be set up: the connection is given up and the owner
        // learns why through its failure routing.
        SslEnable = false;
        ResetSession();
        const auto alive = AliveToken();
        CloseWithError(WsaConnectionAborted);
        if (alive.expired())
            return;
        RouteFailure(failure);
    }
}

void TSslWSocket::StartSslHandshake() {
    if (!SslContext)
        throw ESslContextException(QStringLiteral("SSL requires a context object"));
    ResetSession();
    FHandshakeRespMsg.clear();
    FSslState = sslHandshakeInit;
    SslContext->InitContext();
    const QString host = SslServerName.isEmpty() ? Addr : SslServerName;
    FEngine = std::make_unique<TSslEngine>(SslContext->Handle(), SslServerName,
                                           host.toUtf8() + ':' + Port.toUtf8());
    FSslState = sslHandshakeStarted;
    ContinueHandshake();
}

void TSslWSocket::ContinueHandshake() {
    const TSslEngine::TResult result = FEngine->Handshake();
    // The client's last flight waits for the first request bytes, to go out in one
    // write with them: sent apart, the request would wait (Nagle's algorithm) for
    // the server's delayed acknowledgement of the flight, some 40 ms when a resumed
    // session gives the server nothing to send in between.
    if (result != TSslEngine::ResultDone)
        FlushEngineOutput();
    switch (result) {
    case TSslEngine::ResultDone:
        HandshakeSucceeded();
        break;
    case TSslEngine::ResultWantInput:
        break;
    case TSslEngine::ResultClosed:
        // A close notice instead of the server's next handshake message: the
        // connection ends now, as a close of the connection itself would end it.
        if (HandshakeFailed(ClosedUnexpectedly,
                            QStringLiteral("Error, connection closed unexpectedly")))
            CloseWithError(0);
        break;
    case TSslEngine::ResultFailed: {
        const int reason = ERR_GET_REASON(FEngine->FailureCode());
        const QString text =
            HandshakeFailureText(reason, FEngine->FailureTexts(), FEngine->VerifyResult());
        if (HandshakeFailed(reason, text))
            CloseWithError(WsaConnectionAborted);
        break;
    }
    }
}

void TSslWSocket::HandshakeSucceeded() {
    FSslState = sslEstablished;
    FSession = DescribeSession(FEngine->Handle());
    FHandshakeRespMsg = ConnectedMessage(FSession);
    if (!Fire(OnSslHandshakeDone, 0) || State() != wsConnected || !FEngine)
        return;
    EncryptSendBuffer();
    if (State() != wsConnected || !FEngine)
        return;
    FlushEngineOutput(); // the last flight, when no request bytes took it along
    // Application data may have come in the same reads as the handshake's end.
    DecryptAvailable();
}

bool TSslWSocket::HandshakeFailed(int error, const QString& message) {
    FSslState = sslHandshakeFailed;
    FHandshakeRespMsg = message;
    return Fire(OnSslHandshakeDone, error) && State() == wsConnected;
}

void TSslWSocket::HandleRawData(const char* data, size_t length) {
    if (!SslEnable) {
        TWSocket::HandleRawData(data, length);
        return;
    }
    if (!FEngine)
        return;
    const auto alive = AliveToken();
    while (length > 0) {
        const size_t taken = FEngine->PutInput(data, length);
        data += taken;
        length -= taken;
        ProcessInput();
        if (alive.expired() || State() != wsConnected || !FEngine || taken == 0)
            return;
    }
}

void TSslWSocket::ProcessInput() {
    switch (FSslState) {
    case sslHandshakeStarted:
        ContinueHandshake();
        break;
    case sslEstablished: {
        const auto alive = AliveToken();
        DecryptAvailable();
        // What the session could not take while it renegotiated may go now.
        if (!alive.expired() && State() == wsConnected && FEngine && FEngine->PendingWrite() > 0)
            EncryptSendBuffer();
        break;
    }
    case sslInShutdown: {
        // The peer's last records and its close notice: nothing more is delivered.
        QByteArray ignored;
        FEngine->Read(ignored);
        break;
    }
    default:
        break;
    }
}

void TSslWSocket::DecryptAvailable() {
    QByteArray plain;
    const TSslEngine::TResult result = FEngine->Read(plain);
    FlushEngineOutput();
    const auto alive = AliveToken();
    DeliverReceived(plain);
    if (alive.expired() || State() != wsConnected)
        return;
    if (result == TSslEngine::ResultClosed)
        CloseAfterReceived(0);
    else if (result == TSslEngine::ResultFailed)
        CloseAfterReceived(WsaConnectionAborted);
}

void TSslWSocket::HandleRawEnd(int error) {
    if (!SslEnable || !FEngine) {
        TWSocket::HandleRawEnd(error);
        return;
    }
    if (FSslState == sslHandshakeInit || FSslState == sslHandshakeStarted) {
        if (HandshakeFailed(ClosedUnexpectedly,
                            QStringLiteral("Error, connection closed unexpectedly")))
            CloseWithError(error);
        return;
    }
    if (FSslState == sslEstablished && error == 0) {
        // The last records before the end are still to be read; a missing close
        // notice then reads as an ordinary end.
        const auto alive = AliveToken();
        FEngine->EndOfInput();
        DecryptAvailable();
        if (alive.expired() || State() != wsConnected)
            return;
    }
    if (FSslState == sslInShutdown)
        FSslState = sslShutdownComplete;
    CloseAfterReceived(error);
}

void TSslWSocket::HandleSendBufferFilled() {
    if (!SslEnable) {
        TWSocket::HandleSendBufferFilled();
        return;
    }
    // Before the handshake has ended the bytes stay in the send buffer.
    if (FSslState == sslEstablished)
        EncryptSendBuffer();
}

// Bytes the session cannot take yet stay in the engine; a Close asked for meanwhile
// sends the close notice once they have gone.
void TSslWSocket::EncryptSendBuffer() {
    const QByteArray plain = TakeSendBuffer();
    if (plain.isEmpty() && FEngine->PendingWrite() == 0)
        return;
    QByteArray encrypted;
    const TSslEngine::TResult result = FEngine->Write(plain, encrypted);
    WriteRaw(encrypted, true);
    if (result == TSslEngine::ResultFailed)
        CloseWithError(WsaConnectionAborted);
    else if (FCloseWhenWritten && FEngine->PendingWrite() == 0)
        SendCloseNotice();
}

void TSslWSocket::SendCloseNotice() {
    FCloseWhenWritten = false;
    FEngine->Shutdown();
    FSslState = sslInShutdown;
    FlushEngineOutput();
}

// Handshake and close-notice records: not application data.
void TSslWSocket::FlushEngineOutput() {
    WriteRaw(FEngine->TakeOutput(), false);
}

void TSslWSocket::HandleRawQueueEmpty() {
    if (FEngine && FEngine->PendingWrite() > 0)
        return; // not all sent: the session still holds some
    if (FSslState == sslInShutdown) {
        FSslState = sslShutdownComplete;
        CloseWithError(0);
        return;
    }
    TWSocket::HandleRawQueueEmpty();
}

void TSslWSocket::Close() {
    if (SslEnable && FSslState == sslEstablished && State() == wsConnected && !FCloseWhenWritten) {
        // What is queued goes out first, then the close notice; the connection
        // closes when both have been written.
        FCloseWhenWritten = true;
        EncryptSendBuffer();
        if (State() == wsConnected && FCloseWhenWritten && FEngine->PendingWrite() == 0)
            SendCloseNotice();
        return;
    }
    // A second Close during the close exchange does not wait for it.
    FCloseWhenWritten = false;
    if (FSslState == sslInShutdown)
        FSslState = sslShutdownComplete;
    TWSocket::Close();
}

void TSslWSocket::Abort() {
    ResetSession();
    TWSocket::Abort();
}

std::optional<TIdleConnection> TSslWSocket::DetachConnection() {
    const bool quiet =
        !SslEnable || (FSslState == sslEstablished && !FCloseWhenWritten &&
                       FEngine->PendingWrite() == 0 && SSL_pending(FEngine->Handle()) == 0);
    if (!quiet)
        return std::nullopt;
    TIdleConnection connection;
    connection.Descriptor = ReleaseDescriptor();
    if (connection.Descriptor < 0)
        return std::nullopt;
    connection.Session = std::move(FEngine);
    ResetSession();
    return connection;
}

void TSslWSocket::AdoptConnection(TIdleConnection connection) {
    ResetSession();
    AssignDescriptor(std::exchange(connection.Descriptor, -1));
    SslEnable = connection.Session != nullptr;
    if (!SslEnable)
        return;
    FEngine = std::move(connection.Session);
    FSslState = sslEstablished;
    FSession = DescribeSession(FEngine->Handle());
}
