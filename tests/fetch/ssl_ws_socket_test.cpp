#include "fetch/ssl_ws_socket.h"

#include "fetch/client_files.h"
#include "fetch/ssl_context.h"
#include "platform/event_queue.h"
#include "tests/fetch/socket_recorder.h"
#include "tests/qt_print.h"
#include "tests/support/case_name.h"
#include "tests/support/event_wait.h"
#include "testsite/certificates.h"
#include "testsite/scripted_server.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray Request = "GET / HTTP/1.0\r\nHost: localhost\r\n\r\n";

// A TLS client socket with a recorder, aimed at a scripted server.
struct TClient {
    TSslContext Context;
    TSslWSocket Socket;
    TSocketRecorder Recorder{Socket};
    int HeldAfterSend = -1;

    explicit TClient(const TScriptedServer& server,
                     const QString& serverName = QStringLiteral("localhost")) {
        Socket.SslEnable = true;
        Socket.SslContext = &Context;
        Socket.SslServerName = serverName;
        Socket.Addr = QStringLiteral("127.0.0.1");
        Socket.Port = server.PortText();
        // The request goes out from the connected event, as the HTTP client does it.
        Socket.OnSessionConnected = [this](int error) {
            Recorder.Events << QStringLiteral("connected %1").arg(error);
            if (error == 0) {
                Socket.Send(Request);
                HeldAfterSend = Socket.BufferedByteCount();
            }
        };
    }
};

TEST(SslWSocketTest, HandshakeSucceedsAndHeldRequestArrivesAfterIt) {
    TScriptedServer server({.Tls = true});
    server.SetScripts({TConnectionScript::Reply("HTTP/1.0 200 OK\r\n\r\nhello")});
    TClient client(server);
    client.Socket.Connect();
    ASSERT_TRUE(client.Recorder.WaitForClosed());
    EXPECT_EQ(client.Recorder.Events,
              (QStringList{"connected 0", "handshake 0", "sent 0", "closed 0"}));
    // Held back whole at first, then sent encrypted.
    EXPECT_EQ(client.HeldAfterSend, Request.size());
    EXPECT_EQ(server.Requests(), QList<QByteArray>{Request});
    EXPECT_EQ(client.Recorder.Received, QByteArray("HTTP/1.0 200 OK\r\n\r\nhello"));
    EXPECT_EQ(client.Socket.SslState(), sslEstablished);
}

struct TVersionCase {
    int MaxVersion;
    const char* Message;
};

class SslHandshakeMessageTest : public testing::TestWithParam<TVersionCase> {};

TEST_P(SslHandshakeMessageTest, DescribesTheNegotiatedSession) {
    TScriptedServer server({.Tls = true, .MaxTlsVersion = GetParam().MaxVersion});
    server.SetScripts({TConnectionScript::Silent()});
    TClient client(server);
    client.Socket.Connect();
    ASSERT_TRUE(client.Recorder.WaitFor(QStringLiteral("handshake 0")));
    EXPECT_EQ(client.Socket.SslHandshakeRespMsg(), QString::fromLatin1(GetParam().Message));
    EXPECT_GT(client.Socket.SslSession().SecretBits, 0);
}

// TLS 1.3 suites name no authentication of their own ("any"): the long form.
INSTANTIATE_TEST_SUITE_P(
    Versions, SslHandshakeMessageTest,
    testing::Values(TVersionCase{0, "SSL Connected OK with TLSv1.3, cipher TLS_AES_256_GCM_SHA384, "
                                    "key auth any, key exchange any, encryption AESGCM(256), "
                                    "message auth AEAD"},
                    TVersionCase{0x0303, "SSL Connected OK with TLSv1.2, cipher "
                                         "ECDHE-ECDSA-AES256-GCM-SHA384, encryption AESGCM(256), "
                                         "message auth AEAD"}));

class SslServerCertificateTest : public testing::TestWithParam<TServerOptions> {};

TEST_P(SslServerCertificateTest, UnverifiableCertificateDoesNotStopTheHandshake) {
    TScriptedServer server(GetParam());
    server.SetScripts({TConnectionScript::Reply("HTTP/1.0 200 OK\r\n\r\n")});
    TClient client(server);
    client.Socket.Connect();
    ASSERT_TRUE(client.Recorder.WaitForClosed());
    EXPECT_TRUE(client.Recorder.Has(QStringLiteral("handshake 0")));
    EXPECT_EQ(server.Handshakes(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Certificates, SslServerCertificateTest,
    testing::Values(TServerOptions{.Tls = true}, TServerOptions{.Tls = true, .Expired = true},
                    TServerOptions{.Tls = true, .CommonName = QStringLiteral("other.example")}));

class SslServerNameTest : public testing::TestWithParam<const char*> {};

TEST_P(SslServerNameTest, ServerSeesTheHostAsWritten) {
    TScriptedServer server({.Tls = true});
    server.SetScripts({TConnectionScript::Silent()});
    TClient client(server, QString::fromUtf8(GetParam()));
    client.Socket.Connect();
    ASSERT_TRUE(client.Recorder.WaitFor(QStringLiteral("handshake 0")));
    EXPECT_EQ(server.SniName(), QString::fromUtf8(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Hosts, SslServerNameTest,
                         testing::Values("localhost", "Quorvel.Test", "www.quorvel.ru"));

TEST(SslWSocketTest, PlainHttpReplyOnTheTlsPortIsAWrongVersion) {
    TScriptedServer server; // plain TCP
    TConnectionScript script;
    script.Exchanges.append(
        TExchange{TReadMode::AnyBytes, {"HTTP/1.1 400 Bad Request\r\n\r\n"}, 0});
    server.SetScripts({script});
    TClient client(server);
    client.Socket.Connect();
    ASSERT_TRUE(client.Recorder.WaitForClosed());
    EXPECT_EQ(client.Recorder.Events,
              (QStringList{"connected 0", "handshake 267", "closed 10053"}));
    EXPECT_EQ(client.Socket.SslHandshakeRespMsg(), QStringLiteral("Error, wrong SSL version"));
    EXPECT_EQ(client.Socket.SslState(), sslHandshakeFailed);
    EXPECT_TRUE(client.Recorder.Received.isEmpty());
}

TEST(SslWSocketTest, OtherLibraryFailuresCarryTheLibraryTexts) {
    TScriptedServer server;
    TConnectionScript script;
    // A TLS alert record (handshake failure) instead of a server hello.
    script.Exchanges.append(
        TExchange{TReadMode::AnyBytes, {QByteArray("\x15\x03\x03\x00\x02\x02\x28", 7)}, 0});
    server.SetScripts({script});
    TClient client(server);
    client.Socket.Connect();
    ASSERT_TRUE(client.Recorder.WaitForClosed());
    EXPECT_EQ(client.Recorder.Events.value(1), QStringLiteral("handshake 1040"));
    EXPECT_EQ(client.Recorder.Events.value(2), QStringLiteral("closed 10053"));
    const QString message = client.Socket.SslHandshakeRespMsg();
    EXPECT_TRUE(message.contains(QStringLiteral("handshake failure"))) << message.toStdString();
    for (const QString& line : message.split(QStringLiteral("\r\n")))
        EXPECT_LE(line.size(), 120);
}

TEST(SslWSocketTest, ServerClosingDuringTheHandshakeIsAnUnexpectedClose) {
    TScriptedServer server({.Tls = true});
    TConnectionScript script;
    script.CloseDuringHandshake = true;
    server.SetScripts({script});
    TClient client(server);
    client.Socket.Connect();
    ASSERT_TRUE(client.Recorder.WaitForClosed());
    EXPECT_EQ(client.Recorder.Events.mid(0, 2), (QStringList{"connected 0", "handshake 1"}));
    EXPECT_TRUE(client.Recorder.Events.last().startsWith(QStringLiteral("closed ")));
    EXPECT_EQ(client.Socket.SslHandshakeRespMsg(),
              QStringLiteral("Error, connection closed unexpectedly"));
}

// The server answers the client hello with a TLS close notice and leaves the
// connection open: the handshake fails and the connection closes at once.
TEST(SslWSocketTest, CloseNoticeDuringTheHandshakeClosesAtOnce) {
    TScriptedServer server;
    TConnectionScript script;
    script.Exchanges.append(
        TExchange{TReadMode::AnyBytes, {QByteArray("\x15\x03\x03\x00\x02\x01\x00", 7)}, 0});
    script.End = TConnectionEnd::KeepOpen;
    server.SetScripts({script});
    TClient client(server);
    client.Socket.Connect();
    ASSERT_TRUE(client.Recorder.WaitForClosed());
    EXPECT_EQ(client.Recorder.Events, (QStringList{"connected 0", "handshake 1", "closed 0"}));
    EXPECT_EQ(client.Socket.SslHandshakeRespMsg(),
              QStringLiteral("Error, connection closed unexpectedly"));
}

class SslBodyEndTest : public testing::TestWithParam<TConnectionEnd> {};

// A body that runs to the end of the connection is whole, with or without the
// server's close notice, and the close is an ordinary one.
TEST_P(SslBodyEndTest, BodyToTheEndOfTheConnectionArrivesWholeAndClosesWithZero) {
    QByteArray body(200000, 'x');
    for (int i = 0; i < body.size(); i += 997)
        body[i] = static_cast<char>('a' + i % 26);
    TScriptedServer server({.Tls = true});
    server.SetScripts({TConnectionScript::Reply("HTTP/1.0 200 OK\r\n\r\n" + body, GetParam())});
    TClient client(server);
    client.Socket.Connect();
    ASSERT_TRUE(client.Recorder.WaitForClosed());
    EXPECT_EQ(client.Recorder.Events.last(), QStringLiteral("closed 0"));
    EXPECT_EQ(client.Recorder.Received, "HTTP/1.0 200 OK\r\n\r\n" + body);
}

INSTANTIATE_TEST_SUITE_P(Ends, SslBodyEndTest,
                         testing::Values(TConnectionEnd::Close,
                                         TConnectionEnd::CloseWithoutNotify));

struct TSlowReaderCase {
    const char* Name;
    bool Tls;
    TConnectionEnd End;
};

class SlowReaderTest : public testing::TestWithParam<TSlowReaderCase> {};

// An owner that takes little per data event (as the HTTP client takes at most a
// buffer's room) still gets every byte that arrived before the server's close, and
// only then the close.
TEST_P(SlowReaderTest, EveryByteComesBeforeTheClose) {
    const TSlowReaderCase& c = GetParam();
    QByteArray body(300000, 'x');
    for (int i = 0; i < body.size(); i += 991)
        body[i] = static_cast<char>('a' + i % 26);
    TScriptedServer server({.Tls = c.Tls});
    server.SetScripts({TConnectionScript::Reply(body, c.End)});
    TClient client(server);
    client.Socket.SslEnable = c.Tls;
    client.Recorder.ReadPerEvent = 1000;
    QByteArray receivedAtClose;
    client.Socket.OnSessionClosed = [&](int error) {
        receivedAtClose = client.Recorder.Received;
        client.Recorder.Events << QStringLiteral("closed %1").arg(error);
    };
    client.Socket.Connect();
    ASSERT_TRUE(client.Recorder.WaitForClosed());
    EXPECT_EQ(client.Recorder.Events.last(), QStringLiteral("closed 0"));
    EXPECT_EQ(receivedAtClose.size(), body.size());
    EXPECT_TRUE(receivedAtClose == body);
}

INSTANTIATE_TEST_SUITE_P(Connections, SlowReaderTest,
                         testing::Values(TSlowReaderCase{"TlsWithCloseNotice", true,
                                                         TConnectionEnd::Close},
                                         TSlowReaderCase{"TlsWithoutCloseNotice", true,
                                                         TConnectionEnd::CloseWithoutNotify},
                                         TSlowReaderCase{"Plain", false, TConnectionEnd::Close}),
                         CaseName);

TEST(SslWSocketTest, CloseSendsTheCloseNoticeAndReportsTheCloseLater) {
    TScriptedServer server({.Tls = true});
    server.SetScripts({TConnectionScript::Silent()});
    TClient client(server);
    client.Socket.Connect();
    ASSERT_TRUE(PumpUntil([&] { return server.Requests().size() == 1; }));
    client.Socket.Close();
    EXPECT_EQ(client.Socket.SslState(), sslInShutdown);
    ASSERT_TRUE(client.Recorder.WaitForClosed());
    EXPECT_EQ(client.Recorder.Events.last(), QStringLiteral("closed 0"));
    EXPECT_EQ(client.Socket.SslState(), sslShutdownComplete);
    // The server read the close notice as the end of the session.
    EXPECT_TRUE(PumpUntil([&] { return server.Finished() == 1; }));
}

TEST(SslWSocketTest, SocketIsReusableForASecondConnection) {
    TScriptedServer server({.Tls = true});
    server.SetScripts({TConnectionScript::Reply("first"), TConnectionScript::Reply("second")});
    TClient client(server);
    client.Socket.Connect();
    ASSERT_TRUE(client.Recorder.WaitForClosed());
    client.Recorder.Events.clear();
    client.Socket.Connect();
    ASSERT_TRUE(client.Recorder.WaitForClosed());
    EXPECT_EQ(client.Recorder.Events,
              (QStringList{"connected 0", "handshake 0", "sent 0", "closed 0"}));
    EXPECT_EQ(client.Recorder.Received, QByteArray("firstsecond"));
}

TEST(SslWSocketTest, PlainSocketWithTlsOffSpeaksPlainTcp) {
    TScriptedServer server;
    server.SetScripts({TConnectionScript::Reply("plain")});
    TClient client(server);
    client.Socket.SslEnable = false;
    client.Socket.Connect();
    ASSERT_TRUE(client.Recorder.WaitForClosed());
    EXPECT_EQ(server.Requests(), QList<QByteArray>{Request});
    EXPECT_EQ(client.Recorder.Received, QByteArray("plain"));
}

// Set-up failures of the session: TLS goes off, the connection closes with
// 10053, then the owner's failure handler gets the reason.
struct TSetupCase {
    const char* Name;
    std::function<void(TClient&, const QDir&)> Arrange;
    const char* MessageStart;
};

// The right pass phrase and `d`'s key file, after `change` (0 on success) made to it.
void UseKeyFile(TClient& c, const QDir& d, int (*change)(const char* key)) {
    const QString key = d.filePath("01key.pem");
    ASSERT_EQ(change(QFile::encodeName(key).constData()), 0);
    c.Context.SetSslPassPhrase(QString::fromLatin1(ClientKeyPassPhrase));
    c.Context.SetSslPrivKeyFile(key);
}

class SslSetupFailureTest : public testing::TestWithParam<TSetupCase> {};

TEST_P(SslSetupFailureTest, ClosesWith10053AndRoutesTheFailure) {
    QTemporaryDir dir;
    ASSERT_TRUE(WriteClientCertificate(dir.path(), QString::fromLatin1(ClientKeyPassPhrase)));
    TScriptedServer server({.Tls = true});
    server.SetScripts({TConnectionScript::Silent()});
    TClient client(server);
    GetParam().Arrange(client, QDir(dir.path()));
    client.Socket.Connect();
    ASSERT_TRUE(PumpUntil([&] { return !client.Recorder.Failures.isEmpty(); }));
    EXPECT_EQ(client.Recorder.Events, (QStringList{"connected 0", "closed 10053"}));
    EXPECT_TRUE(client.Recorder.Failures.first().startsWith(
        QString::fromUtf8(GetParam().MessageStart).replace("DIR", dir.path())))
        << client.Recorder.Failures.first().toStdString();
    EXPECT_FALSE(client.Socket.SslEnable);
    EXPECT_FALSE(client.Context.Initialized());
}

INSTANTIATE_TEST_SUITE_P(
    Failures, SslSetupFailureTest,
    testing::Values(
        TSetupCase{"NoContext", [](TClient& c, const QDir&) { c.Socket.SslContext = nullptr; },
                   "SSL requires a context object"},
        TSetupCase{"MissingKey",
                   [](TClient& c, const QDir& d) {
                       c.Context.SetSslPrivKeyFile(d.filePath("missing.pem"));
                   },
                   "File not found \"DIR/missing.pem\""},
        TSetupCase{"WrongPassPhrase",
                   [](TClient& c, const QDir& d) {
                       c.Context.SetSslPassPhrase("not the one");
                       c.Context.SetSslPrivKeyFile(d.filePath("01key.pem"));
                   },
                   "\r\nCan't load private key file \"DIR/01key.pem\"\r\n"},
        TSetupCase{
            "NoPassPhrase",
            [](TClient& c, const QDir& d) { c.Context.SetSslPrivKeyFile(d.filePath("01key.pem")); },
            "\r\nCan't load private key file \"DIR/01key.pem\"\r\n"},
        // Only a regular file of at most 1 MiB is read: a FIFO would block the read.
        TSetupCase{"KeyIsAFifo",
                   [](TClient& c, const QDir& d) {
                       UseKeyFile(c, d,
                                  [](const char* key) { return unlink(key) | mkfifo(key, 0600); });
                   },
                   "\r\nCan't load private key file \"DIR/01key.pem\"\r\n"},
        TSetupCase{"KeyOverOneMiB",
                   [](TClient& c, const QDir& d) {
                       UseKeyFile(c, d, [](const char* key) { return truncate(key, 1 << 20 | 1); });
                   },
                   "\r\nCan't load private key file \"DIR/01key.pem\"\r\n"},
        TSetupCase{
            "MissingCertificate",
            [](TClient& c, const QDir& d) { c.Context.SetSslCertFile(d.filePath("nocert.pem")); },
            "File not found \"DIR/nocert.pem\""},
        TSetupCase{"UnreadableCertificate",
                   [](TClient& c, const QDir& d) {
                       QFile file(d.filePath("garbage.pem"));
                       file.open(QIODevice::WriteOnly);
                       file.write("not a certificate\n");
                       file.close();
                       c.Context.SetSslCertFile(file.fileName());
                   },
                   "\r\nCan't read certificate file \"DIR/garbage.pem\"\r\n"},
        TSetupCase{"EmptyCipherList",
                   [](TClient& c, const QDir&) { c.Context.SetSslCipherList(QString()); },
                   "Cipher list empty"}),
    CaseName);

TEST(SslWSocketTest, ClientCertificateWithTheRightPassPhraseIsAccepted) {
    QTemporaryDir dir;
    ASSERT_TRUE(WriteClientCertificate(dir.path(), QString::fromLatin1(ClientKeyPassPhrase)));
    TScriptedServer server({.Tls = true});
    server.SetScripts({TConnectionScript::Silent()});
    TClient client(server);
    client.Context.SetSslPassPhrase(QString::fromLatin1(ClientKeyPassPhrase));
    client.Context.SetSslCertFile(QDir(dir.path()).filePath("01cert.pem"));
    client.Context.SetSslPrivKeyFile(QDir(dir.path()).filePath("01key.pem"));
    client.Socket.Connect();
    ASSERT_TRUE(client.Recorder.WaitFor(QStringLiteral("handshake 0")));
    EXPECT_TRUE(client.Context.Initialized());
    EXPECT_TRUE(client.Recorder.Failures.isEmpty());
}

class SslResumptionTest : public testing::TestWithParam<int> {};

// Each client stands for a job of its own, with a context of its own.
TEST_P(SslResumptionTest, LaterConnectionsToTheServerResumeItsSession) {
    TScriptedServer server({.Tls = true, .MaxTlsVersion = GetParam()});
    server.SetScripts({TConnectionScript::Reply("HTTP/1.0 200 OK\r\n\r\nhello")});
    QList<bool> resumed;
    for (int job = 0; job < 3; ++job) {
        TClient client(server);
        client.Socket.Connect();
        ASSERT_TRUE(client.Recorder.WaitForClosed());
        ASSERT_EQ(client.Recorder.Received, QByteArray("HTTP/1.0 200 OK\r\n\r\nhello"));
        resumed << client.Socket.SslSession().Resumed;
    }
    EXPECT_EQ(resumed.mid(1), (QList<bool>{true, true}));
}

INSTANTIATE_TEST_SUITE_P(Versions, SslResumptionTest, testing::Values(0x0303, 0x0304));

// A failed set-up keeps nothing: the key file is looked for again next time.
TEST(SslWSocketTest, KeyFileAppearingLaterIsUsedByTheNextConnection) {
    QTemporaryDir dir;
    const QString keyFile = QDir(dir.path()).filePath("01key.pem");
    TScriptedServer server({.Tls = true});
    server.SetScripts({TConnectionScript::Silent()});
    TClient client(server);
    client.Context.SetSslPassPhrase(QString::fromLatin1(ClientKeyPassPhrase));
    client.Context.SetSslCertFile(QDir(dir.path()).filePath("01cert.pem"));
    client.Context.SetSslPrivKeyFile(keyFile);
    client.Socket.Connect();
    ASSERT_TRUE(PumpUntil([&] { return !client.Recorder.Failures.isEmpty(); }));
    ASSERT_TRUE(WriteClientCertificate(dir.path(), QString::fromLatin1(ClientKeyPassPhrase)));
    client.Recorder.Events.clear();
    client.Socket.SslEnable = true;
    client.Socket.Connect();
    ASSERT_TRUE(client.Recorder.WaitFor(QStringLiteral("handshake 0")));
    EXPECT_EQ(client.Recorder.Failures.size(), 1);
}

} // namespace
