#pragma once

#include <QString>

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>

class TSslEngine;

// An open connection between two requests: its descriptor and, over TLS, its
// session. Closing it (the destructor) sends the session's close notice when the
// socket takes it at once, then closes the descriptor.
struct TIdleConnection {
    QString Key; // where it leads and with which TLS context (TConnectionPool::Key)
    int Descriptor = -1;
    std::unique_ptr<TSslEngine> Session; // none for a plain connection
    uint32_t IdleSince = 0;              // tick count when it was put back

    TIdleConnection();
    ~TIdleConnection();
    TIdleConnection(TIdleConnection&& other) noexcept;
    TIdleConnection& operator=(TIdleConnection&& other) noexcept;
};

// The connections a run keeps open between its pages (--keep-alive), shared by the
// run's fetch jobs: a job whose response ended with the connection still open puts
// it back, and the next job to the same place takes it instead of connecting.
//
// At most PerKeyLimit idle connections per key (the oldest goes first), none idle
// for longer than IdleLimitMs, and none left once Close has run: what comes back
// after that is closed at once. Take offers only connections the server has not
// closed or written to meanwhile. Thread-safe.
class TConnectionPool {
public:
    static constexpr uint32_t IdleLimitMs = 30000;

    explicit TConnectionPool(int perKeyLimit);
    ~TConnectionPool();
    TConnectionPool(const TConnectionPool&) = delete;
    TConnectionPool& operator=(const TConnectionPool&) = delete;

    // Scheme, host and port of the target, and the TLS library context its sessions
    // are made with: a connection made with other client files never serves.
    static QString Key(const QString& protocol, const QString& host, const QString& port,
                       const void* tlsContext);

    void Put(TIdleConnection connection);
    // The most recently put connection for `key` that is still open, if any.
    std::optional<TIdleConnection> Take(const QString& key);
    // Closes the connections idle for longer than IdleLimitMs.
    void CloseExpired();
    // Closes every idle connection, now and whatever comes back later.
    void Close();
    int IdleCount() const;

private:
    void CloseExpiredLocked(uint32_t now);

    const int FPerKeyLimit;
    mutable std::mutex FLock;
    std::deque<TIdleConnection> FIdle; // oldest first
    bool FClosed = false;
};
