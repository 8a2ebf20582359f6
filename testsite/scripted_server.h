#pragma once

#include "testsite/certificates.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// An in-process server on 127.0.0.1 (ephemeral port) that plays a script on
// every connection it accepts, plain TCP or TLS, and records what it saw.
//
//     TScriptedServer server({.Tls = true});
//     server.SetScripts({TConnectionScript::Reply("HTTP/1.1 200 OK\r\n...")});
//     ... connect a client to 127.0.0.1:server.Port() and pump until done ...
//     EXPECT_EQ(server.Requests().value(0), "GET / HTTP/1.0\r\n...\r\n\r\n");
//
// Connection n (counted from 0) plays script n, or the last script once the list
// is used up (no scripts at all: read one request head, then close). A script is
// a list of exchanges (read what the client sends, write the reply, optionally in
// pieces with pauses between them), then an ending: close, close without a TLS
// close notice, reset, or keep the connection open until the client closes it.
// A TLS server can instead close during the handshake, as soon as the client's
// first bytes have arrived.
//
// The server runs on its own threads (one accepting, one per connection); every
// wait there is bounded (the client closing, the server's destruction, or 20 s),
// and the destructor stops and joins them all. The TLS server presents a
// self-signed certificate made at construction (for CommonName, expired if asked)
// and records the server name that each client offered.
enum class TReadMode {
    RequestHead, // up to and including the empty line ending a request head
    AnyBytes,    // whatever arrives first (at least one byte)
    Nothing      // write at once
};

struct TExchange {
    TReadMode Read = TReadMode::RequestHead;
    QList<QByteArray> Reply; // written one after the other
    int GapMs = 0;           // pause between two pieces of the reply
};

enum class TConnectionEnd {
    Close,              // TLS close notice (with TLS), then an orderly close
    CloseWithoutNotify, // TCP close only, even with TLS
    Reset,              // the connection is reset (linger 0)
    KeepOpen            // read on until the client closes
};

struct TConnectionScript {
    bool CloseDuringHandshake = false; // TLS only: no handshake at all
    QList<TExchange> Exchanges;
    TConnectionEnd End = TConnectionEnd::Close;

    // Reads one request head, writes `bytes`, ends as asked.
    static TConnectionScript Reply(const QByteArray& bytes,
                                   TConnectionEnd end = TConnectionEnd::Close);
    // Reads one request head and then never answers.
    static TConnectionScript Silent();
};

struct TServerOptions {
    bool Tls = false;
    QString CommonName = QStringLiteral("localhost");
    bool Expired = false;
    // Presented instead of the self-signed certificate when set.
    TTestCertificate Certificate = {};
    int MaxTlsVersion = 0; // e.g. 0x0303 for TLS 1.2 at most; 0: the library's highest
};

class TScriptedServer {
public:
    explicit TScriptedServer(TServerOptions options = {});
    ~TScriptedServer();
    TScriptedServer(const TScriptedServer&) = delete;
    TScriptedServer& operator=(const TScriptedServer&) = delete;

    uint16_t Port() const { return FPort; }
    QString PortText() const { return QString::number(FPort); }

    // Scripts for the connections accepted from now on.
    void SetScripts(QList<TConnectionScript> scripts);

    int Connections() const;
    // What each exchange read, in the order read (all connections).
    QList<QByteArray> Requests() const;
    // Every byte received on connection `index` (decrypted with TLS).
    QByteArray Received(int index) const;
    // The server name the last TLS client offered (empty: none offered).
    QString SniName() const;
    // Connections whose handshake completed (TLS).
    int Handshakes() const;
    // Connections whose script has ended.
    int Finished() const;

private:
    struct TConnection;
    void AcceptLoop();
    void Serve(int index, int fd);
    TConnectionScript ScriptFor(int index) const;
    void Record(int index, const QByteArray& bytes, bool isRequest);
    static int ServerNameCallback(struct ssl_st* ssl, int* alert, void* self);

    TServerOptions FOptions;
    int FListenFd = -1;
    uint16_t FPort = 0;
    struct ssl_ctx_st* FSslContext = nullptr;
    std::atomic<bool> FStopping{false};
    std::thread FAcceptThread;
    std::vector<std::thread> FConnectionThreads;

    mutable std::mutex FLock;
    QList<TConnectionScript> FScripts;
    int FConnections = 0;
    int FHandshakes = 0;
    int FFinished = 0;
    QList<QByteArray> FRequests;
    QList<QByteArray> FReceived;
    QString FSniName;
};
