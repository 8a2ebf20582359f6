#pragma once

#include <QByteArray>

#include <openssl/ssl.h>

#include <deque>
#include <list>
#include <map>
#include <mutex>

// The TLS sessions that servers handed out, kept per server (host and port) so that a
// later connection to the same server resumes one instead of making a full handshake:
// one round trip less, and no certificate or key exchange work on either side.
//
// One store belongs to each library context that TSslContext builds (it hangs on the
// context and goes with it), so a session is only ever offered with the certificate,
// key and settings it was made with: a changed certificate or key file gives a new
// library context, whose store starts empty. Connections of every thread use the
// store of their library context at once; it has a lock of its own.
//
// A TLS 1.3 session (a ticket) is offered once and then forgotten, as the protocol
// asks of clients; the server hands out a new one on every connection. An older
// protocol's session may be resumed again and again until it expires. Sessions that
// have expired are dropped when met. A few sessions are kept per server and a bounded
// number of servers, those used longest ago going first.
class TSslSessionStore {
public:
    TSslSessionStore() = default;
    ~TSslSessionStore();
    TSslSessionStore(const TSslSessionStore&) = delete;
    TSslSessionStore& operator=(const TSslSessionStore&) = delete;

    // Gives `ctx` a store and has the library hand it every new client session.
    static void Attach(SSL_CTX* ctx);
    // Names the server of `ssl` (a client connection of a context with a store) and
    // offers it a session kept for that server, if any. An empty `server` offers and
    // keeps nothing. Raises nothing: a session that cannot be set is dropped.
    static void Prepare(SSL* ssl, const QByteArray& server);

private:
    static TSslSessionStore* Of(SSL_CTX* ctx);
    static int NewSessionCallback(SSL* ssl, SSL_SESSION* session);
    void Keep(const QByteArray& server, SSL_SESSION* session);
    SSL_SESSION* Take(const QByteArray& server);
    void Touch(const QByteArray& server);

    std::mutex FLock;
    std::map<QByteArray, std::deque<SSL_SESSION*>> FSessions; // newest last
    std::list<QByteArray> FUse;                               // servers, least recent first
};
