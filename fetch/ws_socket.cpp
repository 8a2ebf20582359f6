#include "fetch/ws_socket.h"

#include "fetch/socket_error.h"
#include "platform/event_queue.h"
#include "platform/tick_count.h"

#include <asio/write.hpp>

#include <unistd.h>

#include <cstring>

namespace {

constexpr int ReadChunkSize = 16384;

std::optional<asio::ip::address_v4> DottedIPv4(const QString& text) {
    std::error_code ec;
    const auto address = asio::ip::make_address_v4(text.toStdString(), ec);
    if (ec)
        return std::nullopt;
    return address;
}

} // namespace

TWSocket::TWSocket() : FAlive(std::make_shared<bool>(true)) {}

TWSocket::~TWSocket() {
    // Dropping the Asio objects cancels their operations; the completions that
    // are still queued find the alive token expired and do nothing.
    FAlive.reset();
    FResolver.reset();
    FSocket.reset();
}

TEventQueue& TWSocket::Queue() {
    BindQueue();
    return *FQueue;
}

void TWSocket::BindQueue() {
    // A closed socket follows the thread that uses it; an open one stays with
    // the queue its operations run on.
    if (FQueue && (FState != wsClosed || FQueue.get() == &TEventQueue::ForThisThread()))
        return;
    FResolver.reset();
    FSocket.reset();
    FQueue = TEventQueue::SharedForThisThread();
}

void TWSocket::DnsLookup(const QString& hostName) {
    FDnsResult.clear();
    FDnsResultList.clear();
    if (hostName.isEmpty()) {
        FLastError = WsaInvalidArgument;
        throw ESocketException(QStringLiteral("DNS lookup: invalid host name."),
                               WsaInvalidArgument);
    }
    if (DottedIPv4(hostName)) {
        FDnsResult = hostName;
        FDnsResultList << hostName;
        Fire(OnDnsLookupDone, 0);
        return;
    }
    StartResolve(hostName);
}

void TWSocket::StartResolve(const QString& hostName) {
    BindQueue();
    if (!FResolver)
        FResolver = std::make_unique<asio::ip::tcp::resolver>(FQueue->Context());
    const uint64_t lookupId = ++FLookupId;
    auto alive = AliveToken();
    try {
        FResolver->async_resolve(asio::ip::tcp::v4(), hostName.toStdString(), std::string(),
                                 [this, alive, lookupId](const std::error_code& ec, auto results) {
                                     if (alive.expired() || lookupId != FLookupId)
                                         return;
                                     Guarded([&] { ResolveDone(ec, results); });
                                 });
    } catch (const std::system_error& e) {
        FLastError = WSocketErrorFromCode(e.code());
        throw ESocketException(hostName + QStringLiteral(": can't start DNS lookup - ") +
                                   QString::fromStdString(e.code().message()),
                               FLastError);
    }
    FState = wsDnsLookup;
}

void TWSocket::ResolveDone(const std::error_code& ec,
                           const asio::ip::tcp::resolver::results_type& found) {
    if (ec == asio::error::operation_aborted)
        return;
    FState = wsClosed;
    int error = WSocketErrorFromCode(ec);
    if (!ec) {
        for (const auto& entry : found)
            FDnsResultList << QString::fromStdString(entry.endpoint().address().to_string());
        if (FDnsResultList.isEmpty())
            error = WsaNoData;
        else
            FDnsResult = FDnsResultList.first();
    }
    FLastError = error;
    Fire(OnDnsLookupDone, error);
}

void TWSocket::CancelDnsLookup() {
    if (FState != wsDnsLookup)
        return;
    ++FLookupId;
    if (FResolver)
        FResolver->cancel();
    FState = wsClosed;
}

void TWSocket::Connect() {
    if (FState != wsClosed)
        RaiseConnectFailure(QStringLiteral("Connect: socket is already in use"), WsaIsConnected);
    if (Proto.compare(QStringLiteral("tcp"), Qt::CaseInsensitive) != 0)
        RaiseConnectFailure(QStringLiteral("Connect: unsupported protocol ") + Proto,
                            WsaProtocolNotSupported);
    const auto address = DottedIPv4(Addr);
    bool portOk = false;
    const uint port = Port.toUInt(&portOk);
    if (!address || !portOk || port == 0 || port > 65535)
        RaiseConnectFailure(QStringLiteral("Connect: invalid address ") + Addr + ":" + Port,
                            WsaInvalidArgument);
    OpenAndConnect(asio::ip::tcp::endpoint(*address, static_cast<uint16_t>(port)));
}

void TWSocket::RaiseConnectFailure(const QString& what, int error) {
    FLastError = error;
    throw ESocketException(what, error);
}

void TWSocket::OpenAndConnect(const asio::ip::tcp::endpoint& target) {
    BindQueue();
    auto socket = std::make_unique<asio::ip::tcp::socket>(FQueue->Context());
    std::error_code ec;
    socket->open(asio::ip::tcp::v4(), ec);
    if (!ec)
        socket->set_option(asio::socket_base::linger(true, 0), ec);
    if (!ec)
        socket->set_option(asio::socket_base::keep_alive(false), ec);
    if (!ec)
        socket->set_option(asio::ip::tcp::no_delay(false), ec);
    const auto local = DottedIPv4(LocalAddr);
    if (!ec && local && !local->is_unspecified())
        socket->bind(asio::ip::tcp::endpoint(*local, 0), ec);
    if (ec)
        RaiseConnectFailure(QStringLiteral("Connect: ") + QString::fromStdString(ec.message()),
                            WSocketErrorFromCode(ec));
    const uint64_t id = TakeConnection(std::move(socket), wsConnecting);
    auto alive = AliveToken();
    FSocket->async_connect(target, [this, alive, id](const std::error_code& error) {
        if (!alive.expired() && id == FConnectionId)
            Guarded([&] { ConnectDone(error); });
    });
}

void TWSocket::ConnectDone(const std::error_code& ec) {
    if (ec == asio::error::operation_aborted || FState != wsConnecting)
        return;
    if (ec) {
        FLastError = WSocketErrorFromCode(ec);
        const int error = FLastError;
        if (Fire(OnSessionConnected, error))
            CloseWithError(error);
        return;
    }
    StartConnected();
    HandleConnected(0);
}

uint64_t TWSocket::TakeConnection(std::unique_ptr<asio::ip::tcp::socket> socket,
                                  TSocketState state) {
    FSocket = std::move(socket);
    FSendBuffer.clear();
    FRawQueue.clear();
    FRcvd.clear();
    FAppDataInFlight = false;
    FState = state;
    return ++FConnectionId;
}

void TWSocket::StartConnected() {
    FState = wsConnected;
    Counter.ConnectTick = TickCount();
    Counter.LastSendTick = 0;
    Counter.LastRecvTick = 0;
    StartReading();
}

void TWSocket::HandleConnected(int error) {
    // Bytes queued while connecting go out now.
    if (Fire(OnSessionConnected, error) && FState == wsConnected)
        HandleSendBufferFilled();
}

void TWSocket::StartReading() {
    if (FReading || !FSocket || FState != wsConnected)
        return;
    FReading = true;
    FReadChunk.resize(ReadChunkSize);
    const uint64_t id = FConnectionId;
    auto alive = AliveToken();
    FSocket->async_read_some(asio::buffer(FReadChunk.data(), FReadChunk.size()),
                             [this, alive, id](const std::error_code& ec, size_t length) {
                                 // A completion of an earlier connection is stale.
                                 if (alive.expired() || id != FConnectionId)
                                     return;
                                 FReading = false;
                                 Guarded([&] { ReadDone(ec, length); });
                             });
}

void TWSocket::ReadDone(const std::error_code& ec, size_t length) {
    if (ec == asio::error::operation_aborted || FState != wsConnected)
        return;
    if (length > 0) {
        Counter.LastRecvTick = TickCount();
        const auto alive = AliveToken();
        HandleRawData(FReadChunk.constData(), length);
        if (alive.expired())
            return;
    }
    if (ec) {
        FLastError = WSocketErrorFromCode(ec);
        HandleRawEnd(FLastError);
        return;
    }
    StartReading();
}

void TWSocket::HandleRawData(const char* data, size_t length) {
    DeliverReceived(QByteArray(data, static_cast<qsizetype>(length)));
}

void TWSocket::HandleRawEnd(int error) {
    CloseAfterReceived(error);
}

void TWSocket::DeliverReceived(const QByteArray& bytes) {
    if (bytes.isEmpty())
        return;
    FRcvd.append(bytes);
    Fire(OnDataAvailable, 0);
}

int TWSocket::Receive(char* buffer, int length) {
    const int count = std::min<int>(length, static_cast<int>(FRcvd.size()));
    if (count <= 0)
        return 0;
    memcpy(buffer, FRcvd.constData(), static_cast<size_t>(count));
    FRcvd.remove(0, count);
    if (!FRcvd.isEmpty())
        NoticeDataAvailable();
    return count;
}

void TWSocket::NoticeDataAvailable() {
    if (FDataNoticePosted)
        return;
    FDataNoticePosted = true;
    auto alive = AliveToken();
    Queue().Post([this, alive] {
        if (alive.expired())
            return;
        FDataNoticePosted = false;
        if (!FRcvd.isEmpty())
            Guarded([&] { Fire(OnDataAvailable, 0); });
    });
}

void TWSocket::PutDataInSendBuffer(const QByteArray& data) {
    FSendBuffer.append(data);
}

int TWSocket::Send(const QByteArray& data) {
    if (FState != wsConnected && FState != wsConnecting) {
        FLastError = WsaNotConnected;
        return -1;
    }
    PutDataInSendBuffer(data);
    if (FState == wsConnected)
        HandleSendBufferFilled();
    return static_cast<int>(data.size());
}

void TWSocket::HandleSendBufferFilled() {
    if (!FSendBuffer.isEmpty())
        WriteRaw(TakeSendBuffer(), true);
}

QByteArray TWSocket::TakeSendBuffer() {
    QByteArray taken;
    taken.swap(FSendBuffer);
    return taken;
}

int TWSocket::BufferedByteCount() const {
    qsizetype count = FSendBuffer.size();
    for (const QByteArray& piece : FRawQueue)
        count += piece.size();
    return static_cast<int>(count);
}

void TWSocket::WriteRaw(QByteArray bytes, bool appData) {
    if (bytes.isEmpty())
        return;
    FAppDataInFlight = FAppDataInFlight || appData;
    FRawQueue.push_back(std::move(bytes));
    StartWriting();
}

void TWSocket::StartWriting() {
    if (FWriting || FRawQueue.empty() || !FSocket || FState != wsConnected)
        return;
    FWriting = true;
    const QByteArray& front = FRawQueue.front();
    const uint64_t id = FConnectionId;
    auto alive = AliveToken();
    asio::async_write(*FSocket, asio::buffer(front.constData(), front.size()),
                      [this, alive, id](const std::error_code& ec, size_t length) {
                          if (alive.expired() || id != FConnectionId)
                              return;
                          FWriting = false;
                          Guarded([&] { WriteDone(ec, length); });
                      });
}

void TWSocket::WriteDone(const std::error_code& ec, size_t length) {
    if (ec == asio::error::operation_aborted || FState != wsConnected)
        return;
    if (ec) {
        // The read side reports the broken connection; stop writing to it.
        FLastError = WSocketErrorFromCode(ec);
        FRawQueue.clear();
        return;
    }
    if (length > 0)
        Counter.LastSendTick = TickCount();
    FRawQueue.pop_front();
    if (!FRawQueue.empty()) {
        StartWriting();
        return;
    }
    HandleRawQueueEmpty();
}

void TWSocket::HandleRawQueueEmpty() {
    if (!FAppDataInFlight || !FSendBuffer.isEmpty())
        return;
    FAppDataInFlight = false;
    Fire(OnDataSent, 0);
}

void TWSocket::Close() {
    if (FState == wsDnsLookup) {
        CancelDnsLookup();
        return;
    }
    CloseWithError(0);
}

void TWSocket::CloseDelayed() {
    auto alive = AliveToken();
    Queue().Post([this, alive] {
        if (!alive.expired())
            Guarded([&] { Close(); });
    });
}

void TWSocket::Abort() {
    CancelDnsLookup();
    FSendBuffer.clear();
    FRawQueue.clear();
    if (FState == wsClosed)
        return;
    // No shutdown first; with linger off the system ends the connection itself.
    std::error_code ignored;
    FSocket->set_option(asio::socket_base::linger(false, 0), ignored);
    ReleaseConnection(false);
    Fire(OnSessionClosed, 0);
}

void TWSocket::CloseWithError(int error) {
    if (FState == wsClosed || FState == wsDnsLookup)
        return;
    ReleaseConnection(error == 0);
    Fire(OnSessionClosed, error);
}

void TWSocket::CloseAfterReceived(int error) {
    const auto alive = AliveToken();
    while (!FRcvd.isEmpty() && FState == wsConnected) {
        const qsizetype waiting = FRcvd.size();
        if (!Fire(OnDataAvailable, 0))
            return;
        if (FRcvd.size() == waiting)
            break; // the owner takes no more now; the rest stays readable
    }
    CloseWithError(error);
}

void TWSocket::ReleaseConnection(bool shutdownFirst) {
    FState = wsClosed;
    ++FConnectionId;
    FRawQueue.clear();
    FSendBuffer.clear();
    FWriting = false;
    FReading = false;
    if (!FSocket)
        return;
    std::error_code ignored;
    if (shutdownFirst)
        FSocket->shutdown(asio::socket_base::shutdown_send, ignored);
    // Closing cancels the pending read and write; their completions are ignored.
    FSocket->close(ignored);
}

int TWSocket::ReleaseDescriptor() {
    if (FState != wsConnected || !FSocket || !FRcvd.isEmpty() || !FRawQueue.empty() ||
        !FSendBuffer.isEmpty())
        return -1;
    std::error_code ec;
    // The pending read is cancelled; its completion finds the connection gone.
    const int descriptor = FSocket->release(ec);
    if (ec)
        return -1;
    FSocket.reset();
    ReleaseConnection(false);
    return descriptor;
}

void TWSocket::AssignDescriptor(int descriptor) {
    BindQueue();
    auto socket = std::make_unique<asio::ip::tcp::socket>(FQueue->Context());
    std::error_code ec;
    socket->assign(asio::ip::tcp::v4(), descriptor, ec);
    if (ec) {
        ::close(descriptor);
        RaiseConnectFailure(QStringLiteral("Connect: ") + QString::fromStdString(ec.message()),
                            WSocketErrorFromCode(ec));
    }
    TakeConnection(std::move(socket), wsConnected);
    StartConnected();
}

void TWSocket::MessagePump() {
    TEventQueue::ForThisThread().Pump();
}

bool TWSocket::Fire(const std::function<void(int)>& handler, int error) {
    const auto alive = AliveToken();
    if (handler)
        handler(error);
    return !alive.expired();
}

void TWSocket::Guarded(const std::function<void()>& work) {
    const auto alive = AliveToken();
    try {
        work();
    } catch (const std::exception& failure) {
        if (alive.expired())
            throw;
        RouteFailure(failure);
    }
}

void TWSocket::RouteFailure(const std::exception& failure) {
    // Called from inside the catch block that caught `failure`.
    if (!OnEventFailure)
        throw;
    OnEventFailure(failure);
}
