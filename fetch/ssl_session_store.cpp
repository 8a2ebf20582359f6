#include "fetch/ssl_session_store.h"

#include <openssl/ssl.h>

#include <ctime>

namespace {

constexpr size_t SessionsPerServer = 4;
constexpr size_t Servers = 64;

void FreeStore(void*, void* store, CRYPTO_EX_DATA*, int, long, void*) {
    delete static_cast<TSslSessionStore*>(store);
}

void FreeServerName(void*, void* name, CRYPTO_EX_DATA*, int, long, void*) {
    delete static_cast<QByteArray*>(name);
}

// The library's slots for a context's store and a connection's server name.
int StoreIndex() {
    static const int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, FreeStore);
    return index;
}

int ServerIndex() {
    static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, FreeServerName);
    return index;
}

bool StillUsable(SSL_SESSION* session) {
    return SSL_SESSION_is_resumable(session) &&
           SSL_SESSION_get_time(session) + SSL_SESSION_get_timeout(session) > time(nullptr);
}

bool SingleUse(SSL_SESSION* session) {
    return SSL_SESSION_get_protocol_version(session) >= TLS1_3_VERSION;
}

} // namespace

TSslSessionStore::~TSslSessionStore() {
    for (auto& [server, sessions] : FSessions)
        for (SSL_SESSION* session : sessions)
            SSL_SESSION_free(session);
}

void TSslSessionStore::Attach(SSL_CTX* ctx) {
    auto* store = new TSslSessionStore;
    if (SSL_CTX_set_ex_data(ctx, StoreIndex(), store) != 1) {
        delete store;
        return; // the context works all the same, with full handshakes
    }
    // Client sessions go to the callback only; the library keeps no list of its own.
    SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    SSL_CTX_sess_set_new_cb(ctx, &TSslSessionStore::NewSessionCallback);
}

TSslSessionStore* TSslSessionStore::Of(SSL_CTX* ctx) {
    return static_cast<TSslSessionStore*>(SSL_CTX_get_ex_data(ctx, StoreIndex()));
}

void TSslSessionStore::Prepare(SSL* ssl, const QByteArray& server) {
    TSslSessionStore* store = Of(SSL_get_SSL_CTX(ssl));
    if (!store || server.isEmpty())
        return;
    auto* name = new QByteArray(server);
    if (SSL_set_ex_data(ssl, ServerIndex(), name) != 1) {
        delete name;
        return;
    }
    if (SSL_SESSION* session = store->Take(server)) {
        SSL_set_session(ssl, session); // a session it refuses means a full handshake
        SSL_SESSION_free(session);
    }
}

// Runs on the thread of the connection that received the session. A copy is kept:
// the library marks the connection's own session as not resumable when that
// connection is freed without a close notice sent, which is how a page's connection
// usually ends (the server closes first, or the client aborts).
int TSslSessionStore::NewSessionCallback(SSL* ssl, SSL_SESSION* session) {
    TSslSessionStore* store = Of(SSL_get_SSL_CTX(ssl));
    const auto* server = static_cast<const QByteArray*>(SSL_get_ex_data(ssl, ServerIndex()));
    if (!store || !server || !SSL_SESSION_is_resumable(session))
        return 0;
    if (SSL_SESSION* copy = SSL_SESSION_dup(session))
        store->Keep(*server, copy);
    return 0; // the library keeps its own reference to `session`
}

void TSslSessionStore::Keep(const QByteArray& server, SSL_SESSION* session) {
    std::lock_guard<std::mutex> guard(FLock);
    std::deque<SSL_SESSION*>& sessions = FSessions[server];
    sessions.push_back(session);
    if (sessions.size() > SessionsPerServer) {
        SSL_SESSION_free(sessions.front());
        sessions.pop_front();
    }
    Touch(server);
    if (FUse.size() > Servers) {
        for (SSL_SESSION* old : FSessions[FUse.front()])
            SSL_SESSION_free(old);
        FSessions.erase(FUse.front());
        FUse.pop_front();
    }
}

// The newest usable session, the caller's to free; null when none is kept.
SSL_SESSION* TSslSessionStore::Take(const QByteArray& server) {
    std::lock_guard<std::mutex> guard(FLock);
    const auto found = FSessions.find(server);
    if (found == FSessions.end())
        return nullptr;
    std::deque<SSL_SESSION*>& sessions = found->second;
    while (!sessions.empty()) {
        SSL_SESSION* session = sessions.back();
        if (!StillUsable(session)) {
            sessions.pop_back();
            SSL_SESSION_free(session);
            continue;
        }
        if (SingleUse(session))
            sessions.pop_back();
        else // a copy, so the end of the connection that uses it leaves ours as it is
            session = SSL_SESSION_dup(session);
        Touch(server);
        return session;
    }
    return nullptr;
}

void TSslSessionStore::Touch(const QByteArray& server) {
    FUse.remove(server);
    FUse.push_back(server);
}
