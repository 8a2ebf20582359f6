#pragma once

#include "platform/exception.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <asio/ip/tcp.hpp>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>

class TEventQueue;

enum TSocketState { wsConnecting, wsConnected, wsClosed, wsDnsLookup };

// A failure that a socket operation raises at once (a lookup or connect that
// cannot be started). ErrorCode is the socket's LastError at that moment.
class ESocketException : public Exception {
public:
    ESocketException(QString message, int errorCode)
        : Exception(std::move(message)), FErrorCode(errorCode) {}
    int ErrorCode() const { return FErrorCode; }

private:
    int FErrorCode;
};

// When the connection was made and when it last sent and received a byte, as
// 32-bit millisecond ticks (TickCount). A client's inactivity time-out reads it
// and may stamp LastSendTick itself when it starts waiting.
struct TWSocketCounter {
    uint32_t ConnectTick = 0;
    uint32_t LastSendTick = 0;
    uint32_t LastRecvTick = 0;
};

// An event-driven IPv4 TCP client socket.
//
// Owns one connection at a time (an Asio socket and resolver) and the bytes
// waiting in either direction. Nothing blocks: DnsLookup, Connect and Send start
// work and return; the outcome comes back as an event (the On... members) with a
// Windows Sockets error number (0 for success). Events are handled on the event
// queue of the thread that started the lookup or the connect (TEventQueue::
// ForThisThread), when that thread waits or pumps; the socket belongs to that
// thread and is not locked. It may be created on another thread and handed over
// while closed.
//
// Failures inside event handling: an exception thrown by an event handler (or by
// the socket's own work inside an event, such as setting up TLS) is caught by the
// socket and passed to OnEventFailure; the owner decides what it means (the HTTP
// client aborts its request). Without an OnEventFailure the exception leaves the
// pump that handled the event. Close, Abort and the connect-failure path fire
// OnSessionClosed before such a failure is passed on.
//
// The socket may be destroyed from inside one of its own event handlers only if
// nothing touches it afterwards; its pending operations are then dropped quietly.
class TWSocket {
public:
    TWSocket();
    virtual ~TWSocket();
    TWSocket(const TWSocket&) = delete;
    TWSocket& operator=(const TWSocket&) = delete;

    // Where Connect goes: a dotted IPv4 address (normally DnsResult), a port
    // number and the protocol "tcp". LocalAddr "0.0.0.0" leaves the local address
    // and port to the system.
    QString Addr;
    QString Port;
    QString Proto = QStringLiteral("tcp");
    QString LocalAddr = QStringLiteral("0.0.0.0");

    std::function<void(int error)> OnDnsLookupDone;
    std::function<void(int error)> OnSessionConnected;
    std::function<void(int error)> OnDataAvailable;
    // All data handed to Send has gone to the network.
    std::function<void(int error)> OnDataSent;
    std::function<void(int error)> OnSessionClosed;
    std::function<void(const std::exception& failure)> OnEventFailure;

    TWSocketCounter Counter;

    TSocketState State() const { return FState; }
    // The first address found by the last lookup (dotted text); only it is used.
    QString DnsResult() const { return FDnsResult; }
    const QStringList& DnsResultList() const { return FDnsResultList; }
    int LastError() const { return FLastError; }

    // Starts resolving `hostName` to IPv4 addresses; OnDnsLookupDone reports the
    // end. A dotted address is the result at once: the event comes before this
    // returns. An empty name raises "DNS lookup: invalid host name." (LastError
    // 10022) and fires no event.
    void DnsLookup(const QString& hostName);
    // Stops a running lookup; its end is not reported.
    void CancelDnsLookup();

    // Starts a non-blocking connect to Addr:Port (linger on with 0 s, keep-alive
    // off, Nagle on). Raises ESocketException with LastError set when it cannot
    // start; otherwise OnSessionConnected reports the outcome, and a failed
    // connect is followed by OnSessionClosed with the same number.
    virtual void Connect();

    // Queues bytes and starts sending; returns the count queued, or -1 (LastError
    // 10057) when the socket is neither connecting nor connected. Send with no
    // bytes only starts sending what PutDataInSendBuffer queued.
    int Send(const QByteArray& data);
    void PutDataInSendBuffer(const QByteArray& data);
    // Bytes queued by the caller that have not yet gone to the network.
    int BufferedByteCount() const;

    // Copies up to `length` received bytes into `buffer`; returns the count, 0
    // when none is waiting. Bytes left behind are announced again by
    // OnDataAvailable, and when the peer closes they are all offered before
    // OnSessionClosed. Bytes the owner leaves unread stay readable after the close.
    int Receive(char* buffer, int length);
    int RcvdCount() const { return static_cast<int>(FRcvd.size()); }

    // Closes now: the sending side is shut down first, then the connection
    // (which, with linger 0, resets it). OnSessionClosed(0) follows before this
    // returns. A running lookup is cancelled quietly.
    virtual void Close();
    // Closes once the events already queued for this thread have been handled.
    void CloseDelayed();
    // Drops everything queued and closes at once; OnSessionClosed(0) follows.
    virtual void Abort();

    // Handles, without blocking, every event pending for the calling thread.
    void MessagePump();

protected:
    // The plain byte path between the connection and the layer above. The TLS
    // layer overrides the hooks to put its engine in between.
    virtual void HandleConnected(int error);
    virtual void HandleRawData(const char* data, size_t length);
    virtual void HandleRawEnd(int error);
    virtual void HandleSendBufferFilled();
    virtual void HandleRawQueueEmpty();

    // Queues bytes for the network exactly as given; `appData` marks bytes that
    // belong to the caller's Send, whose drain fires OnDataSent.
    void WriteRaw(QByteArray bytes, bool appData);
    bool RawQueueEmpty() const { return FRawQueue.empty(); }
    QByteArray TakeSendBuffer();
    // Makes `bytes` readable by Receive and fires OnDataAvailable.
    void DeliverReceived(const QByteArray& bytes);
    // Ends the connection now and fires OnSessionClosed(error).
    void CloseWithError(int error);
    // The peer ended the connection, or it broke: every byte received before that is
    // offered to the owner first (OnDataAvailable, again and again while the owner
    // takes some), then the connection ends with `error`. An owner that reads a
    // little per event thus never sees the close while bytes are still waiting.
    void CloseAfterReceived(int error);

    // The connected descriptor leaves the socket, which is closed afterwards
    // without an event; -1, and nothing changed, when it is not connected or bytes
    // wait in either direction.
    int ReleaseDescriptor();
    // Takes up a connected descriptor of this thread's making or another's, as if
    // its connect had just succeeded, without the connected event.
    void AssignDescriptor(int descriptor);

    // Runs `work` as event handling: a thrown failure goes to OnEventFailure.
    void Guarded(const std::function<void()>& work);
    // Fires an event; returns false when the handler destroyed the socket.
    bool Fire(const std::function<void(int)>& handler, int error);
    // Passes a failure to OnEventFailure, or raises it again without one. Only
    // from inside the catch block that caught it.
    void RouteFailure(const std::exception& failure);
    std::weak_ptr<bool> AliveToken() const { return FAlive; }
    TEventQueue& Queue();

private:
    void BindQueue();
    void StartResolve(const QString& hostName);
    void ResolveDone(const std::error_code& ec, const asio::ip::tcp::resolver::results_type& found);
    void OpenAndConnect(const asio::ip::tcp::endpoint& target);
    void ConnectDone(const std::error_code& ec);
    // A new connection takes the socket's place, in `state`, with nothing of the
    // last one left; returns its number.
    uint64_t TakeConnection(std::unique_ptr<asio::ip::tcp::socket> socket, TSocketState state);
    // The connection is up: its clock starts and reading begins.
    void StartConnected();
    void StartReading();
    void ReadDone(const std::error_code& ec, size_t length);
    void StartWriting();
    void WriteDone(const std::error_code& ec, size_t length);
    void ReleaseConnection(bool shutdownFirst);
    void NoticeDataAvailable();
    [[noreturn]] void RaiseConnectFailure(const QString& what, int error);

    std::shared_ptr<TEventQueue> FQueue;
    std::unique_ptr<asio::ip::tcp::resolver> FResolver;
    std::unique_ptr<asio::ip::tcp::socket> FSocket;
    std::shared_ptr<bool> FAlive;

    TSocketState FState = wsClosed;
    QString FDnsResult;
    QStringList FDnsResultList;
    int FLastError = 0;
    uint64_t FLookupId = 0;
    uint64_t FConnectionId = 0;

    QByteArray FSendBuffer;
    std::deque<QByteArray> FRawQueue;
    bool FWriting = false;
    bool FAppDataInFlight = false;
    QByteArray FReadChunk;
    bool FReading = false;
    QByteArray FRcvd;
    bool FDataNoticePosted = false;
};
