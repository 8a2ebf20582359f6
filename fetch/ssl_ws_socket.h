#pragma once

#include "fetch/ws_socket.h"

#include <memory>
#include <optional>

class TSslContext;
class TSslEngine;
struct TIdleConnection;

enum TSslState {
    sslNone,
    sslHandshakeInit,
    sslHandshakeStarted,
    sslHandshakeFailed,
    sslEstablished,
    sslInShutdown,
    sslShutdownComplete
};

// What the last handshake settled on (empty before an established session).
struct TSslSessionInfo {
    QString Version;     // "TLSv1.3"
    QString Cipher;      // "TLS_AES_256_GCM_SHA384"
    QString KeyExchange; // "any", "ECDH", ...
    QString KeyAuth;     // "any", "RSA", ...
    QString Encryption;  // "AESGCM(256)"
    QString MessageAuth; // "AEAD"
    int SecretBits = 0;
    int TotalBits = 0;
    bool Resumed = false; // a session kept from an earlier connection was taken up
};

// TWSocket with a TLS client session over its connection.
//
// Owns the session's engine (one library object over a memory buffer pair); the
// socket itself moves every byte between the engine and the network, so nothing
// blocks in the library. Belongs to the same thread as TWSocket and is not
// locked; the TSslContext it uses is the owner's and must outlive it.
//
// With SslEnable set, a successful connect fires OnSessionConnected(0) first
// (the owner queues its request, which is held back) and then starts the
// handshake. Its end fires OnSslHandshakeDone: 0 and "SSL Connected OK with ..."
// in SslHandshakeRespMsg, after which the held bytes go out encrypted; or the
// library's reason code and its text, followed by OnSessionClosed(10053); or 1
// and "Error, connection closed unexpectedly" when the server ends the connection
// during the handshake, followed by OnSessionClosed with that close's number (0
// when it sent a TLS close notice and left the connection itself open).
// A failure to set up the session (no context, unreadable key or certificate
// file) switches TLS off, fires OnSessionClosed(10053) and is then passed to
// OnEventFailure as an ESslContextException or ESocketException.
//
// Close on an established session sends what is queued and the TLS close notice,
// then closes the connection once they have gone out: OnSessionClosed(0) comes
// later than the call. Bytes sent while the server renegotiates wait in the engine
// until the session can take them, and go out before the close notice. A server
// that ends the connection without a close notice gives OnSessionClosed(0) after
// the last decrypted bytes.
class TSslWSocket : public TWSocket {
public:
    TSslWSocket();
    ~TSslWSocket() override;

    bool SslEnable = false;
    TSslContext* SslContext = nullptr;
    // Sent in the server-name extension (as UTF-8) when not empty.
    QString SslServerName;

    std::function<void(int error)> OnSslHandshakeDone;

    QString SslHandshakeRespMsg() const { return FHandshakeRespMsg; }
    TSslState SslState() const { return FSslState; }
    const TSslSessionInfo& SslSession() const { return FSession; }

    void Connect() override;
    void Close() override;
    void Abort() override;

    // The connection, with its TLS session, leaves this socket to serve a later
    // one: only an established connection with nothing waiting either way, in the
    // socket or in the session. The socket is closed afterwards, without an event.
    std::optional<TIdleConnection> DetachConnection();
    // Takes up a connection that DetachConnection gave, established as it was left.
    void AdoptConnection(TIdleConnection connection);

protected:
    void HandleConnected(int error) override;
    void HandleRawData(const char* data, size_t length) override;
    void HandleRawEnd(int error) override;
    void HandleSendBufferFilled() override;
    void HandleRawQueueEmpty() override;

private:
    void StartSslHandshake();
    void ContinueHandshake();
    void HandshakeSucceeded();
    // Records the failure and fires OnSslHandshakeDone; false when the handler
    // closed or destroyed the socket.
    bool HandshakeFailed(int error, const QString& message);
    void ProcessInput();
    void DecryptAvailable();
    void EncryptSendBuffer();
    void SendCloseNotice();
    void FlushEngineOutput();
    void ResetSession();

    std::unique_ptr<TSslEngine> FEngine;
    TSslState FSslState = sslNone;
    bool FCloseWhenWritten = false; // Close was asked for while the session held bytes
    QString FHandshakeRespMsg;
    TSslSessionInfo FSession;
};
