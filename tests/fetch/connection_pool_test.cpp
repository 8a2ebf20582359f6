#include "fetch/connection_pool.h"

#include "fetch_job.h"
#include "platform/tick_count.h"
#include "testsite/scripted_server.h"

#include <openssl/x509_vfy.h>

#include <gtest/gtest.h>

#include "tests/qt_print.h"
#include "tests/support/case_name.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace {

// One end of a local connection for the pool, the other end kept here to act as
// the server and to see whether the pool closed it.
struct TPeer {
    int Server = -1;
    TIdleConnection Connection;

    explicit TPeer(const QString& key) {
        int ends[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0)
            throw std::runtime_error("socketpair");
        Server = ends[0];
        Connection.Descriptor = ends[1];
        Connection.Key = key;
    }
    ~TPeer() { ::close(Server); }
    // What the pool's end did: the server reads the end of the stream once it closed.
    bool ClosedByPool() const {
        char byte;
        const ssize_t got = ::recv(Server, &byte, 1, MSG_DONTWAIT);
        return got == 0 || (got < 0 && errno == ECONNRESET); // reset: it left bytes unread
    }
};

// The tick count, moved by hand.
struct TManualTicks {
    uint32_t Now = 1000;
    TManualTicks() {
        SetTickSourceForTests([this] { return Now; });
    }
    ~TManualTicks() { SetTickSourceForTests({}); }
};

TEST(ConnectionPool, OffersOnlyOpenQuietConnectionsOfTheKeyNewestFirst) {
    TConnectionPool pool(4);
    TPeer closed("a"), spoke("a"), older("a"), newest("a"), other("b");
    const int olderDescriptor = older.Connection.Descriptor;
    const int newestDescriptor = newest.Connection.Descriptor;
    for (TPeer* peer : {&closed, &spoke, &older, &newest, &other})
        pool.Put(std::move(peer->Connection));
    ::shutdown(closed.Server, SHUT_WR);
    ::send(spoke.Server, "x", 1, 0);

    EXPECT_EQ(pool.Take("a")->Descriptor, newestDescriptor);
    EXPECT_EQ(pool.Take("a")->Descriptor, olderDescriptor);
    EXPECT_FALSE(pool.Take("a"));
    EXPECT_TRUE(closed.ClosedByPool());
    EXPECT_TRUE(spoke.ClosedByPool());
    EXPECT_TRUE(pool.Take("b"));
    EXPECT_EQ(pool.IdleCount(), 0);
}

// Each row ends with the first connection closed and `Idle` connections left; what
// comes back to a closed pool is closed at once.
TEST(ConnectionPool, ClosesPastTheLimitAfterThirtySecondsAndOnceClosed) {
    const struct {
        const char* Name;
        std::function<void(TConnectionPool&, TManualTicks&, TPeer&)> Then;
        int Idle;
    } cases[] = {
        {"third_of_its_key",
         [](TConnectionPool& pool, TManualTicks&, TPeer&) {
             pool.Put(std::move(TPeer("a").Connection));
         },
         2},
        {"idle_past_the_limit",
         [](TConnectionPool& pool, TManualTicks& ticks, TPeer&) {
             ticks.Now += TConnectionPool::IdleLimitMs + 1;
             pool.CloseExpired();
         },
         0},
        {"pool_closed", [](TConnectionPool& pool, TManualTicks&, TPeer&) { pool.Close(); }, 0},
        {"back_after_the_pool_closed",
         [](TConnectionPool& pool, TManualTicks&, TPeer&) {
             pool.Close();
             TPeer late("a");
             pool.Put(std::move(late.Connection));
             EXPECT_TRUE(late.ClosedByPool());
         },
         0},
    };
    for (const auto& c : cases) {
        TManualTicks ticks;
        TConnectionPool pool(2);
        TPeer first("a"), second("a");
        pool.Put(std::move(first.Connection));
        ticks.Now += TConnectionPool::IdleLimitMs;
        pool.Put(std::move(second.Connection));
        c.Then(pool, ticks, first);
        EXPECT_TRUE(first.ClosedByPool()) << c.Name;
        EXPECT_EQ(pool.IdleCount(), c.Idle) << c.Name;
    }
}

// ---- fetch jobs sharing the pool over TLS ------------------------------------------

const QByteArray Page = "<html><body>Тестоград</body></html>";
const QByteArray Ok11 =
    "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(Page.size()) + "\r\n\r\n" + Page;

struct TIdleEndCase {
    const char* Name;
    QList<QByteArray> SecondReply; // what the kept connection answers the second job
    TConnectionEnd End;
    QStringList Logged; // the second job's log lines, before " для " and the URL
};

class KeptConnectionTable : public testing::TestWithParam<TIdleEndCase> {
protected:
    TScriptedServer Server{{.Tls = true}};
    std::shared_ptr<TConnectionPool> Pool = std::make_shared<TConnectionPool>(2);

    QString PageUrl() const { return "https://127.0.0.1:" + Server.PortText() + "/avto/"; }
    std::unique_ptr<TFetchJob> RunJob(const QString& certificateDir = {}, bool verifyPeer = false) {
        auto job = std::make_unique<TFetchJob>(PageUrl());
        job->VerifyPeer = verifyPeer;
        if (!certificateDir.isEmpty())
            job->UseCertificateDir(certificateDir);
        job->Connections = Pool;
        job->StartJob();
        EXPECT_TRUE(job->WaitForHandOver());
        return job;
    }
};

// The second job takes the first one's connection. When the server ends it as the
// request goes, before a byte of the answer, the request goes again on a new
// connection, with no failed attempt; an answer that had begun fails its attempt.
TEST_P(KeptConnectionTable, TheNextJobTakesTheConnectionLeftOpen) {
    const TIdleEndCase& c = GetParam();
    TConnectionScript kept{false,
                           {TExchange{TReadMode::RequestHead, {Ok11}, 0},
                            TExchange{TReadMode::RequestHead, c.SecondReply, 0}},
                           c.End};
    Server.SetScripts({kept, TConnectionScript::Reply(Ok11, TConnectionEnd::KeepOpen)});
    const auto first = RunJob();
    ASSERT_EQ(Pool->IdleCount(), 1);
    // The same client files: the same TLS context, so the connection may serve.
    const auto second = RunJob(first->CertificateDir());

    EXPECT_EQ(second->result, TFetchResult::Fetched);
    QStringList logged;
    for (const QString& reason : c.Logged)
        logged.append(reason + " для " + PageUrl());
    EXPECT_EQ(second->LoggedTexts(), logged);
    const bool keptServed = c.SecondReply.value(0) == Ok11;
    EXPECT_EQ(Server.Connections(), keptServed ? 1 : 2);
    const QList<QByteArray> requests = Server.Requests();
    ASSERT_GE(requests.size(), 2);
    for (const QByteArray& request : requests)
        EXPECT_TRUE(request.isEmpty() || request.startsWith("GET /avto/ HTTP/1.1\r\n"))
            << request.constData();
    EXPECT_EQ(Pool->IdleCount(), 1);
}

// The pool tells connections apart by their TLS contexts: one left by a job that
// does not check certificates never serves a job that does.
TEST_F(KeptConnectionTable, UncheckedConnectionNeverServesAJobThatChecks) {
    Server.SetScripts({TConnectionScript::Reply(Ok11, TConnectionEnd::KeepOpen)});
    const auto first = RunJob();
    const auto checking = RunJob(first->CertificateDir(), true);
    EXPECT_EQ(checking->statusText,
              QStringLiteral("ERROR_SSL handshake failed - certificate verify failed: ") +
                  X509_verify_cert_error_string(X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT));
    EXPECT_EQ(Pool->IdleCount(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    IdleEnds, KeptConnectionTable,
    testing::Values(TIdleEndCase{"Served", {Ok11}, TConnectionEnd::KeepOpen, {}},
                    TIdleEndCase{"ClosedAsTheRequestWent", {}, TConnectionEnd::Close, {}},
                    TIdleEndCase{"ClosedWithoutNotice", {}, TConnectionEnd::CloseWithoutNotify, {}},
                    TIdleEndCase{"ResetAsTheRequestWent", {}, TConnectionEnd::Reset, {}},
                    TIdleEndCase{"AnswerBegunThenClosed",
                                 {"HTTP/1.1 200 OK\r\nContent-Le"},
                                 TConnectionEnd::CloseWithoutNotify,
                                 {"ERROR_HTTP no status code (connection closed prematurely)"}}),
    CaseName);

} // namespace
