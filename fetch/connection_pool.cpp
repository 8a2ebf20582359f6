#include "fetch/connection_pool.h"

#include "fetch/ssl_engine.h"
#include "platform/tick_count.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {

// Open, and nothing has arrived since the last response: no close, no close
// notice, no stray bytes that the next response would be read after.
bool OpenAndQuiet(int descriptor) {
    char byte = 0;
    const ssize_t got = ::recv(descriptor, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
}

} // namespace

TIdleConnection::TIdleConnection() = default;

TIdleConnection::TIdleConnection(TIdleConnection&& other) noexcept
    : Key(std::move(other.Key)), Descriptor(std::exchange(other.Descriptor, -1)),
      Session(std::move(other.Session)), IdleSince(other.IdleSince) {}

TIdleConnection& TIdleConnection::operator=(TIdleConnection&& other) noexcept {
    if (this != &other) {
        TIdleConnection closing(std::move(*this));
        Key = std::move(other.Key);
        Descriptor = std::exchange(other.Descriptor, -1);
        Session = std::move(other.Session);
        IdleSince = other.IdleSince;
    }
    return *this;
}

// The close notice goes out only if the socket takes it at once; the connection
// ends with an orderly close rather than a reset, as the server expects of a
// client that is done with it.
TIdleConnection::~TIdleConnection() {
    if (Descriptor < 0)
        return;
    if (Session) {
        Session->Shutdown();
        const QByteArray notice = Session->TakeOutput();
        if (!notice.isEmpty())
            (void)::send(Descriptor, notice.constData(), size_t(notice.size()),
                         MSG_DONTWAIT | MSG_NOSIGNAL);
    }
    const linger orderly{0, 0};
    (void)::setsockopt(Descriptor, SOL_SOCKET, SO_LINGER, &orderly, sizeof orderly);
    ::close(Descriptor);
}

TConnectionPool::TConnectionPool(int perKeyLimit) : FPerKeyLimit(std::max(perKeyLimit, 1)) {}

TConnectionPool::~TConnectionPool() = default;

QString TConnectionPool::Key(const QString& protocol, const QString& host, const QString& port,
                             const void* tlsContext) {
    return protocol.toLower() + QStringLiteral("://") + host.toLower() + u':' + port + u' ' +
           QString::number(reinterpret_cast<quintptr>(tlsContext), 16);
}

void TConnectionPool::Put(TIdleConnection connection) {
    std::deque<TIdleConnection> closing; // closed after the lock is let go
    std::lock_guard<std::mutex> guard(FLock);
    if (FClosed)
        return;
    const uint32_t now = TickCount();
    CloseExpiredLocked(now);
    connection.IdleSince = now;
    const auto sameKey = [&](const TIdleConnection& c) { return c.Key == connection.Key; };
    if (std::count_if(FIdle.begin(), FIdle.end(), sameKey) >= FPerKeyLimit) {
        const auto oldest = std::find_if(FIdle.begin(), FIdle.end(), sameKey);
        closing.push_back(std::move(*oldest));
        FIdle.erase(oldest);
    }
    FIdle.push_back(std::move(connection));
}

std::optional<TIdleConnection> TConnectionPool::Take(const QString& key) {
    std::lock_guard<std::mutex> guard(FLock);
    CloseExpiredLocked(TickCount());
    for (auto it = FIdle.rbegin(); it != FIdle.rend();) {
        if (it->Key != key) {
            ++it;
            continue;
        }
        TIdleConnection connection = std::move(*it);
        it = decltype(it)(FIdle.erase(std::next(it).base()));
        if (OpenAndQuiet(connection.Descriptor))
            return connection;
    }
    return std::nullopt;
}

void TConnectionPool::CloseExpired() {
    std::lock_guard<std::mutex> guard(FLock);
    CloseExpiredLocked(TickCount());
}

void TConnectionPool::CloseExpiredLocked(uint32_t now) {
    while (!FIdle.empty() && TicksBetween(FIdle.front().IdleSince, now) > IdleLimitMs)
        FIdle.pop_front();
}

void TConnectionPool::Close() {
    std::deque<TIdleConnection> closing;
    std::lock_guard<std::mutex> guard(FLock);
    FClosed = true;
    closing.swap(FIdle);
}

int TConnectionPool::IdleCount() const {
    std::lock_guard<std::mutex> guard(FLock);
    return int(FIdle.size());
}
