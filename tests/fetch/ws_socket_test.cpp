#include "fetch/ws_socket.h"

#include "platform/event_queue.h"
#include "platform/tick_count.h"
#include "tests/fetch/socket_recorder.h"
#include "tests/qt_print.h"
#include "tests/support/case_name.h"
#include "tests/support/event_wait.h"
#include "testsite/scripted_server.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

// Connects `socket` to the server and waits for the outcome.
bool ConnectTo(TWSocket& socket, TSocketRecorder& recorder, const TScriptedServer& server) {
    socket.Addr = QStringLiteral("127.0.0.1");
    socket.Port = server.PortText();
    socket.Connect();
    return recorder.WaitFor(QStringLiteral("connected 0"));
}

TEST(WSocketLookupTest, DottedAddressIsTheResultBeforeTheCallReturns) {
    TWSocket socket;
    TSocketRecorder recorder(socket);
    socket.DnsLookup(QStringLiteral("192.0.2.7"));
    EXPECT_EQ(recorder.Events, QStringList{"lookup 0"});
    EXPECT_EQ(socket.DnsResult(), QStringLiteral("192.0.2.7"));
}

TEST(WSocketLookupTest, EmptyNameRaisesWithInvalidArgument) {
    TWSocket socket;
    TSocketRecorder recorder(socket);
    try {
        socket.DnsLookup(QString());
        FAIL() << "no failure raised";
    } catch (const ESocketException& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("DNS lookup: invalid host name."));
        EXPECT_EQ(e.ErrorCode(), 10022);
    }
    EXPECT_EQ(socket.LastError(), 10022);
    EXPECT_TRUE(recorder.Events.isEmpty());
}

struct TLookupCase {
    const char* Host;
    const char* Event;
    const char* Result;
};

class WSocketResolveTest : public testing::TestWithParam<TLookupCase> {};

TEST_P(WSocketResolveTest, ReportsTheEndAsAnEvent) {
    TWSocket socket;
    TSocketRecorder recorder(socket);
    socket.DnsLookup(QString::fromLatin1(GetParam().Host));
    ASSERT_TRUE(PumpUntil([&] { return !recorder.Events.isEmpty(); }));
    EXPECT_EQ(recorder.Events, QStringList{QString::fromLatin1(GetParam().Event)});
    EXPECT_EQ(socket.DnsResult(), QString::fromLatin1(GetParam().Result));
    EXPECT_EQ(socket.State(), wsClosed);
}

INSTANTIATE_TEST_SUITE_P(Names, WSocketResolveTest,
                         testing::Values(TLookupCase{"localhost", "lookup 0", "127.0.0.1"},
                                         TLookupCase{"no-such-host.invalid", "lookup 11001", ""}));

struct TLookupStopCase {
    const char* Name;
    std::function<void(TWSocket&)> Stop;
};

class WSocketLookupStopTest : public testing::TestWithParam<TLookupStopCase> {};

// The resolver ends lookups in order, so once a later lookup is reported the
// stopped one would have been too.
TEST_P(WSocketLookupStopTest, StoppedLookupReportsNothing) {
    TWSocket socket;
    TSocketRecorder recorder(socket);
    socket.DnsLookup(QStringLiteral("localhost"));
    ASSERT_EQ(socket.State(), wsDnsLookup);
    GetParam().Stop(socket);
    EXPECT_EQ(socket.State(), wsClosed);
    socket.DnsLookup(QStringLiteral("no-such-host.invalid"));
    ASSERT_TRUE(recorder.WaitFor(QStringLiteral("lookup 11001")));
    TEventQueue::ForThisThread().Pump();
    EXPECT_EQ(recorder.Events, QStringList{"lookup 11001"});
}

INSTANTIATE_TEST_SUITE_P(Stops, WSocketLookupStopTest,
                         testing::Values(TLookupStopCase{"Cancel",
                                                         [](TWSocket& s) { s.CancelDnsLookup(); }},
                                         TLookupStopCase{"Close", [](TWSocket& s) { s.Close(); }}),
                         CaseName);

TEST(WSocketConnectTest, RefusedConnectReportsConnectedThenClosedWith10061) {
    TWSocket socket;
    TSocketRecorder recorder(socket);
    socket.Addr = QStringLiteral("127.0.0.1");
    socket.Port = UnusedPort();
    socket.Connect();
    EXPECT_EQ(socket.State(), wsConnecting);
    ASSERT_TRUE(recorder.WaitForClosed());
    EXPECT_EQ(recorder.Events, (QStringList{"connected 10061", "closed 10061"}));
    EXPECT_EQ(socket.LastError(), 10061);
    EXPECT_EQ(socket.State(), wsClosed);
}

TEST(WSocketBadTargetTest, ConnectRaisesAtOnceWithLastErrorSet) {
    const struct {
        const char* Addr;
        const char* Port;
        const char* Proto;
    } cases[] = {
        {"", "80", "tcp"},          {"quorvel.invalid", "80", "tcp"},
        {"127.0.0.1", "", "tcp"},   {"127.0.0.1", "70000", "tcp"},
        {"127.0.0.1", "80", "udp"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.Addr << ":" << c.Port << "/" << c.Proto);
        TWSocket socket;
        TSocketRecorder recorder(socket);
        socket.Addr = QString::fromLatin1(c.Addr);
        socket.Port = QString::fromLatin1(c.Port);
        socket.Proto = QString::fromLatin1(c.Proto);
        EXPECT_THROW(socket.Connect(), ESocketException);
        EXPECT_NE(socket.LastError(), 0);
        EXPECT_EQ(socket.State(), wsClosed);
        TEventQueue::ForThisThread().Pump();
        EXPECT_TRUE(recorder.Events.isEmpty());
    }
}

TEST(WSocketDataTest, RequestAndReplyTravelWholeAndStampTheActivityRecord) {
    uint32_t now = 5000;
    SetTickSourceForTests([&] { return now; });
    // Restored however the test ends: the source refers to `now`.
    struct TRealTicksAtEnd {
        ~TRealTicksAtEnd() { SetTickSourceForTests({}); }
    } realTicksAtEnd;
    TScriptedServer server;
    server.SetScripts({TConnectionScript::Reply("HTTP/1.0 200 OK\r\n\r\nbody")});
    TWSocket socket;
    TSocketRecorder recorder(socket);
    ASSERT_TRUE(ConnectTo(socket, recorder, server));
    EXPECT_EQ(socket.Counter.ConnectTick, 5000u);
    EXPECT_EQ(socket.Counter.LastSendTick, 0u);
    now = 6000;
    EXPECT_EQ(socket.Send("GET / HTTP/1.0\r\n\r\n"), 18);
    ASSERT_TRUE(recorder.WaitForClosed());
    EXPECT_EQ(recorder.Received, QByteArray("HTTP/1.0 200 OK\r\n\r\nbody"));
    EXPECT_EQ(server.Requests(), QList<QByteArray>{"GET / HTTP/1.0\r\n\r\n"});
    EXPECT_EQ(recorder.Events, (QStringList{"connected 0", "sent 0", "closed 0"}));
    EXPECT_EQ(socket.Counter.LastSendTick, 6000u);
    EXPECT_EQ(socket.Counter.LastRecvTick, 6000u);
}

struct TEndCase {
    TConnectionEnd End;
    const char* Closed;
};

class WSocketServerEndTest : public testing::TestWithParam<TEndCase> {};

TEST_P(WSocketServerEndTest, ReplyInPiecesArrivesWholeBeforeTheClose) {
    TScriptedServer server;
    TConnectionScript script;
    script.Exchanges.append(TExchange{TReadMode::RequestHead, {"one ", "two ", "three"}, 30});
    script.End = GetParam().End;
    server.SetScripts({script});
    TWSocket socket;
    TSocketRecorder recorder(socket);
    ASSERT_TRUE(ConnectTo(socket, recorder, server));
    socket.Send("GET / HTTP/1.0\r\n\r\n");
    ASSERT_TRUE(recorder.WaitForClosed());
    EXPECT_EQ(recorder.Events.last(), QString::fromLatin1(GetParam().Closed));
    if (GetParam().End != TConnectionEnd::Reset) {
        EXPECT_EQ(recorder.Received, QByteArray("one two three"));
    }
}

INSTANTIATE_TEST_SUITE_P(Ends, WSocketServerEndTest,
                         testing::Values(TEndCase{TConnectionEnd::Close, "closed 0"},
                                         TEndCase{TConnectionEnd::Reset, "closed 10054"}));

TEST(WSocketDataTest, BytesLeftUnreadAreAnnouncedAgain) {
    TScriptedServer server;
    server.SetScripts({TConnectionScript::Reply("0123456789", TConnectionEnd::KeepOpen)});
    TWSocket socket;
    TSocketRecorder recorder(socket);
    QByteArray taken;
    socket.OnDataAvailable = [&](int) {
        char buffer[3];
        const int got = socket.Receive(buffer, sizeof buffer);
        taken.append(buffer, got);
    };
    ASSERT_TRUE(ConnectTo(socket, recorder, server));
    socket.Send("GET / HTTP/1.0\r\n\r\n");
    ASSERT_TRUE(PumpUntil([&] { return taken.size() == 10; }));
    EXPECT_EQ(taken, QByteArray("0123456789"));
    EXPECT_EQ(socket.RcvdCount(), 0);
}

TEST(WSocketDataTest, BytesQueuedWhileConnectingGoOutOnceConnected) {
    TScriptedServer server;
    server.SetScripts({TConnectionScript::Reply("ok")});
    TWSocket socket;
    TSocketRecorder recorder(socket);
    socket.Addr = QStringLiteral("127.0.0.1");
    socket.Port = server.PortText();
    socket.Connect();
    EXPECT_EQ(socket.Send("GET /early HTTP/1.0\r\n\r\n"), 23);
    ASSERT_TRUE(recorder.WaitForClosed());
    EXPECT_EQ(server.Requests(), QList<QByteArray>{"GET /early HTTP/1.0\r\n\r\n"});
    EXPECT_EQ(recorder.Received, QByteArray("ok"));
}

TEST(WSocketDataTest, SendOnAClosedSocketFailsWithNotConnected) {
    TWSocket socket;
    EXPECT_EQ(socket.Send("x"), -1);
    EXPECT_EQ(socket.LastError(), 10057);
}

TEST(WSocketCloseTest, CloseReportsTheCloseBeforeItReturns) {
    TScriptedServer server;
    server.SetScripts({TConnectionScript::Silent()});
    TWSocket socket;
    TSocketRecorder recorder(socket);
    ASSERT_TRUE(ConnectTo(socket, recorder, server));
    socket.Close();
    EXPECT_EQ(recorder.Events, (QStringList{"connected 0", "closed 0"}));
    EXPECT_EQ(socket.State(), wsClosed);
    // Nothing of the closed connection is reported later.
    TEventQueue::ForThisThread().Pump();
    EXPECT_EQ(recorder.Events.size(), 2);
}

TEST(WSocketCloseTest, CloseDelayedWaitsForTheEventsAlreadyQueued) {
    TScriptedServer server;
    server.SetScripts({TConnectionScript::Silent()});
    TWSocket socket;
    TSocketRecorder recorder(socket);
    ASSERT_TRUE(ConnectTo(socket, recorder, server));
    TEventQueue::ForThisThread().Post([&] { recorder.Events << "notice"; });
    socket.CloseDelayed();
    EXPECT_EQ(socket.State(), wsConnected);
    ASSERT_TRUE(recorder.WaitForClosed());
    EXPECT_EQ(recorder.Events, (QStringList{"connected 0", "notice", "closed 0"}));
}

TEST(WSocketCloseTest, AbortDropsQueuedBytesAndCloses) {
    TScriptedServer server;
    server.SetScripts({TConnectionScript::Silent()});
    TWSocket socket;
    TSocketRecorder recorder(socket);
    ASSERT_TRUE(ConnectTo(socket, recorder, server));
    socket.PutDataInSendBuffer("never sent");
    socket.Abort();
    EXPECT_EQ(socket.BufferedByteCount(), 0);
    EXPECT_EQ(recorder.Events, (QStringList{"connected 0", "closed 0"}));
}

TEST(WSocketFailureTest, AFailingHandlerIsRoutedToTheFailureHandler) {
    TScriptedServer server;
    server.SetScripts({TConnectionScript::Reply("data", TConnectionEnd::KeepOpen)});
    TWSocket socket;
    TSocketRecorder recorder(socket);
    socket.OnDataAvailable = [](int) { throw Exception(QStringLiteral("decoder failed")); };
    ASSERT_TRUE(ConnectTo(socket, recorder, server));
    socket.Send("GET / HTTP/1.0\r\n\r\n");
    ASSERT_TRUE(PumpUntil([&] { return !recorder.Failures.isEmpty(); }));
    EXPECT_EQ(recorder.Failures, QStringList{"decoder failed"});
}

TEST(WSocketFailureTest, WithoutAFailureHandlerTheFailureLeavesThePump) {
    TScriptedServer server;
    server.SetScripts({TConnectionScript::Reply("data", TConnectionEnd::KeepOpen)});
    TWSocket socket;
    TSocketRecorder recorder(socket);
    socket.OnEventFailure = nullptr;
    socket.OnDataAvailable = [](int) { throw Exception(QStringLiteral("decoder failed")); };
    ASSERT_TRUE(ConnectTo(socket, recorder, server));
    socket.Send("GET / HTTP/1.0\r\n\r\n");
    EXPECT_THROW(PumpUntil([] { return false; }), Exception);
}

TEST(WSocketLifetimeTest, SocketDestroyedInsideItsHandlerIsNotTouchedAgain) {
    TScriptedServer server;
    server.SetScripts({TConnectionScript::Reply("data", TConnectionEnd::KeepOpen)});
    auto socket = std::make_unique<TWSocket>();
    TSocketRecorder recorder(*socket);
    socket->OnDataAvailable = [&](int) { socket.reset(); };
    ASSERT_TRUE(ConnectTo(*socket, recorder, server));
    socket->Send("GET / HTTP/1.0\r\n\r\n");
    ASSERT_TRUE(PumpUntil([&] { return socket == nullptr; }));
    TEventQueue::ForThisThread().Pump();
}

} // namespace
