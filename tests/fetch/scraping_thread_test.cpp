#include "fetch_job.h"

#include "fetch/client_files.h"
#include "fetch/response_limits.h"
#include "platform/tick_count.h"
#include "tests/fetch/socket_recorder.h"
#include "testsite/body_coding.h"
#include "testsite/certificates.h"
#include "testsite/hostile_replies.h"
#include "testsite/scripted_server.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <openssl/x509_vfy.h>

#include <gtest/gtest.h>

#include "tests/qt_print.h"
#include "tests/support/case_name.h"

#include <atomic>
#include <functional>

namespace {

const QByteArray Page = "<html><head><meta charset=\"utf-8\"></head><body>Тестоград</body></html>";

QByteArray Ok(const QByteArray& body, const QByteArray& headers = {}) {
    return "HTTP/1.0 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n" +
           headers + "\r\n" + body;
}

const QByteArray NotFound = "HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n";

QList<TConnectionScript> Replies(const QList<QByteArray>& replies) {
    QList<TConnectionScript> scripts;
    for (const QByteArray& reply : replies)
        scripts.append(reply.isNull() ? TConnectionScript::Silent()
                                      : TConnectionScript::Reply(reply));
    return scripts;
}

QStringList Repeated(const QString& text, int times) {
    QStringList list;
    for (int i = 0; i < times; ++i)
        list.append(text);
    return list;
}

using TWaits = std::vector<TFetchJob::TWait>;
const TFetchJob::TWait FinalWait{1000, true};
const TFetchJob::TWait Pause{1000, false};

// Every one of `attempts` failed attempts paused, then the final wait came.
TWaits PausedAttempts(int attempts) {
    TWaits waits(attempts, Pause);
    waits.push_back(FinalWait);
    return waits;
}

class FetchJobTest : public testing::Test {
protected:
    TScriptedServer Server{{.Tls = true}};
    QString PageUrl() const { return "https://127.0.0.1:" + Server.PortText() + "/avto/"; }
};

struct TAttemptsCase {
    const char* Name;
    QList<QByteArray> Replies; // one per connection, the last repeated
    TFetchResult Result;
    QString Status;
    QStringList Logged; // reasons, each followed by " для " and the URL
    TWaits Waits;
    QByteArray Html;
};

class FetchAttempts : public FetchJobTest, public testing::WithParamInterface<TAttemptsCase> {};

TEST_P(FetchAttempts, EndWithTheirOutcome) {
    const TAttemptsCase& c = GetParam();
    Server.SetScripts(Replies(c.Replies));
    TFetchJob job(PageUrl());
    job.StartJob();
    ASSERT_TRUE(job.WaitForHandOver());

    EXPECT_EQ(job.result, c.Result);
    EXPECT_EQ(job.statusText, c.Status);
    QStringList logged;
    for (const QString& reason : c.Logged)
        logged.append(reason + " для " + PageUrl());
    EXPECT_EQ(job.LoggedTexts(), logged);
    EXPECT_EQ(job.Waits(), c.Waits);
    EXPECT_EQ(job.html, QString::fromUtf8(c.Html));
    EXPECT_EQ(Server.Connections(), c.Logged.size() + (c.Result == TFetchResult::Fetched ? 1 : 0));
}

const QByteArray Capital = "<HTML><body>Тестоград</body></HTML>";

INSTANTIATE_TEST_SUITE_P(
    Replies, FetchAttempts,
    testing::Values(TAttemptsCase{"success_after_two_failures",
                                  {NotFound, Ok("<html><body>"), Ok(Page)},
                                  TFetchResult::Fetched,
                                  "успешно",
                                  {"ERROR_Not Found", "ERROR_Broken"},
                                  {},
                                  Page},
                    TAttemptsCase{"fifteen_capital_closing_tags",
                                  {Ok(Capital)},
                                  TFetchResult::Failed,
                                  "ERROR_Broken",
                                  Repeated("ERROR_Broken", 15),
                                  {FinalWait},
                                  Capital},
                    TAttemptsCase{"empty_body",
                                  {Ok("")},
                                  TFetchResult::Failed,
                                  "ERROR_Broken",
                                  Repeated("ERROR_Broken", 15),
                                  {FinalWait},
                                  ""},
                    TAttemptsCase{"status_without_phrase",
                                  {"HTTP/1.0 404\r\nContent-Length: 0\r\n\r\n"},
                                  TFetchResult::Failed,
                                  "ERROR_404",
                                  Repeated("ERROR_404", 15),
                                  {FinalWait},
                                  ""},
                    TAttemptsCase{"text_after_closing_tag",
                                  {Ok(Page + "\n<!-- 0.2 s -->")},
                                  TFetchResult::Fetched,
                                  "успешно",
                                  {},
                                  {},
                                  Page + "\n<!-- 0.2 s -->"},
                    TAttemptsCase{"br_decoded_here",
                                  {Ok(BrotliBytes(Page), "Content-Encoding: br\r\n")},
                                  TFetchResult::Fetched,
                                  "успешно",
                                  {},
                                  {},
                                  Page},
                    TAttemptsCase{"gzip_decoded_by_the_client",
                                  {Ok(GzipBytes(Page), "Content-Encoding: gzip\r\n")},
                                  TFetchResult::Fetched,
                                  "успешно",
                                  {},
                                  {},
                                  Page},
                    // The first attempt's error page, decoded by the client, must not
                    // become the page of a later attempt that got no body at all.
                    TAttemptsCase{
                        "gzip_error_page_then_empty_chunked",
                        {"HTTP/1.1 500 Internal Server Error\r\nContent-Encoding: "
                         "gzip\r\nContent-Length: " +
                             QByteArray::number(GzipBytes(Page).size()) + "\r\n\r\n" +
                             GzipBytes(Page),
                         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n"},
                        TFetchResult::Failed,
                        "ERROR_Broken",
                        QStringList("ERROR_Internal Server Error") + Repeated("ERROR_Broken", 14),
                        {FinalWait},
                        ""},
                    TAttemptsCase{"refused_number_in_a_status_phrase",
                                  {"HTTP/1.0 503 Busy (Error #10061)\r\nContent-Length: 0\r\n\r\n"},
                                  TFetchResult::Failed,
                                  "ERROR_Busy (Error #10061)",
                                  Repeated("ERROR_Busy (Error #10061)", 15),
                                  PausedAttempts(15),
                                  ""},
                    // A few kilobytes that decode to more than a body may hold: the
                    // decoding here stops at the bound, and every attempt fails.
                    TAttemptsCase{"br_bomb",
                                  {Ok(BrotliBytes(QByteArray(MaxResponseBodyBytes + 1, ' ')),
                                      "Content-Encoding: br\r\n")},
                                  TFetchResult::Failed,
                                  "ERROR_Response body larger than 64 MiB",
                                  Repeated("ERROR_Response body larger than 64 MiB", 15),
                                  {FinalWait},
                                  ""}),
    CaseName);

// "br" is decoded only when the header says exactly that; anything else reaches
// the completeness test as it came.
class FetchNotBrotli : public FetchJobTest, public testing::WithParamInterface<const char*> {};

TEST_P(FetchNotBrotli, LeavesTheBodyUndecoded) {
    Server.SetScripts(
        Replies({Ok(BrotliBytes(Page), QByteArray("Content-Encoding: ") + GetParam() + "\r\n")}));
    TFetchJob job(PageUrl());
    job.StartJob();
    ASSERT_TRUE(job.WaitForHandOver());
    EXPECT_EQ(job.result, TFetchResult::Failed);
    EXPECT_EQ(job.statusText, "ERROR_Broken");
    EXPECT_EQ(job.LoggedTexts().size(), 15);
}

INSTANTIATE_TEST_SUITE_P(Codings, FetchNotBrotli, testing::Values("BR", "br, identity"));

// The sanitizers' shadow memory and quarantine count as resident memory of their own.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool MemoryMeasured = false;
#else
constexpr bool MemoryMeasured = true;
#endif

// The peak resident memory of this process starts again from what it holds now.
void ResetPeakRss() {
    QFile clearRefs("/proc/self/clear_refs");
    ASSERT_TRUE(clearRefs.open(QIODevice::WriteOnly));
    ASSERT_EQ(clearRefs.write("5"), 1);
}

// VmHWM of this process in bytes, -1 when it cannot be read.
int64_t PeakRssBytes() {
    QFile status("/proc/self/status");
    const QByteArray text = status.open(QIODevice::ReadOnly) ? status.readAll() : QByteArray();
    const qsizetype at = text.indexOf("VmHWM:");
    return at < 0 ? -1 : text.mid(at + 6).trimmed().split(' ').value(0).toLongLong() * 1024;
}

// A server on the path sends a reason phrase as long as the header bound allows, and
// then a megabyte of gzip labelled "gzip, gzip" whose first decoding is 512 MiB of
// zeros: the phrase is logged cut, every later attempt fails at the decoded bound,
// and this process, which fetched, never holds what the server meant it to.
TEST_F(FetchJobTest, HostileServerNeitherFloodsTheLogNorTheMemory) {
    const int64_t phrase = MaxResponseHeaderBytes - 200;
    Server.SetScripts(
        Replies({LongReasonReply(503, phrase),
                 BombReply("gzip, gzip", int64_t(512) << 20, QByteArray(qsizetype(phrase), 'x'))}));
    ResetPeakRss();
    TFetchJob job(PageUrl());
    job.StartJob();
    ASSERT_TRUE(job.WaitForHandOver(300000));

    const QString bound = "ERROR_Response body larger than 64 MiB";
    const QString suffix = " для " + PageUrl();
    EXPECT_EQ(job.LoggedTexts(),
              QStringList("ERROR_" + QString(200, u'x') + suffix) + Repeated(bound + suffix, 14));
    EXPECT_EQ(job.statusText, bound);
    const int64_t peak = PeakRssBytes();
    ASSERT_GT(peak, 0);
    if (MemoryMeasured) {
        EXPECT_LT(peak, int64_t(300) << 20) << "peak RSS " << (peak >> 20) << " MiB";
    }
}

TEST_F(FetchJobTest, SendsTheBrowserProfile) {
    Server.SetScripts(Replies({Ok(Page)}));
    TFetchJob job(PageUrl());
    job.StartJob();
    ASSERT_TRUE(job.WaitForHandOver());
    ASSERT_EQ(job.result, TFetchResult::Fetched);

    const QStringList lines = QString::fromUtf8(Server.Requests().value(0)).split("\r\n");
    EXPECT_EQ(lines.value(0), "GET /avto/ HTTP/1.0");
    for (const QString& line :
         {QString("Accept: text/html, */*"), "Referer: " + PageUrl(),
          QString("Accept-Encoding: gzip, deflate, br"),
          QString("User-Agent: Mozilla/5.0 (Windows NT 6.1; Win64; x64; rv:109.0) "
                  "Gecko/20100101 Firefox/115.0")})
        EXPECT_TRUE(lines.contains(line)) << qPrintable(line);
}

struct TJobCase {
    const char* Name;
    QString Path; // put after the server's address
    TJobCode Code;
    QString Category;
    QString CategoryUrl;
};

class FetchJobFields : public FetchJobTest, public testing::WithParamInterface<TJobCase> {};

TEST_P(FetchJobFields, ReportedWhateverTheOutcome) {
    const TJobCase& c = GetParam();
    for (const QByteArray& reply : {Ok(Page), NotFound}) {
        Server.SetScripts(Replies({reply}));
        const QString pageUrl = "https://127.0.0.1:" + Server.PortText() + c.Path;
        TFetchJob job(pageUrl);
        job.Job = {pageUrl, c.Category, c.CategoryUrl, c.Code};
        job.StartJob();
        ASSERT_TRUE(job.WaitForHandOver());

        EXPECT_EQ(job.url, pageUrl);
        EXPECT_EQ(job.Code, c.Code);
        EXPECT_EQ(job.category, c.Category);
        EXPECT_EQ(job.categoryurl, c.CategoryUrl);
        EXPECT_TRUE(Server.Requests().last().startsWith("GET " + c.Path.toUtf8() + " HTTP/1.0"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Jobs, FetchJobFields,
    testing::Values(TJobCase{"card", "/firm/101/", TJobCode::Card, "Шины &amp; диски",
                             "https://127.0.0.1/avto/shiny/"},
                    TJobCase{"card_without_subrubric", "/firm/102/", TJobCode::Card, "",
                             "https://127.0.0.1/avto/"},
                    TJobCase{"list_page", "/avto/page-2/", TJobCode::Page, "", ""}),
    CaseName);

TEST_F(FetchJobTest, UnloadableCertificateFailsEveryAttemptWithoutPausing) {
    Server.SetScripts(Replies({Ok(Page)}));
    TFetchJob job(PageUrl());
    job.UseMissingCertificate();
    job.StartJob();
    ASSERT_TRUE(job.WaitForHandOver());
    EXPECT_EQ(job.result, TFetchResult::Failed);
    EXPECT_EQ(job.statusText, "ERROR_Connection aborted on request");
    EXPECT_EQ(job.LoggedTexts(),
              Repeated("ERROR_Connection aborted on request для " + PageUrl(), 15));
    EXPECT_EQ(job.Waits(), TWaits{FinalWait});
}

bool Overwrite(const QString& path, const QByteArray& content) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(content) == content.size();
}

struct TCertificateChangeCase {
    const char* Name;
    std::function<bool(const QDir&)> Change;
};

class FetchCertificateChange : public FetchJobTest,
                               public testing::WithParamInterface<TCertificateChangeCase> {
protected:
    struct TOutcome {
        TFetchResult Result;
        QString Status;
        QStringList Logged;
    };

    TOutcome RunJob(const QString& certificateDir) {
        TFetchJob job(PageUrl());
        job.UseCertificateDir(certificateDir);
        job.StartJob();
        EXPECT_TRUE(job.WaitForHandOver());
        return {job.result, job.statusText, job.LoggedTexts()};
    }
};

// The parsed key and certificate are kept between jobs; a file that disappears or
// goes bad must still fail the next job's every attempt, as it always did, and a
// mended one must work again at once.
TEST_P(FetchCertificateChange, IsNoticedByTheNextJob) {
    QTemporaryDir dir;
    ASSERT_TRUE(WriteClientCertificate(dir.path(), ClientKeyPassPhrase));
    Server.SetScripts(Replies({Ok(Page)}));
    EXPECT_EQ(RunJob(dir.path()).Result, TFetchResult::Fetched);

    ASSERT_TRUE(GetParam().Change(QDir(dir.path())));
    const TOutcome failed = RunJob(dir.path());
    EXPECT_EQ(failed.Result, TFetchResult::Failed);
    EXPECT_EQ(failed.Status, "ERROR_Connection aborted on request");
    EXPECT_EQ(failed.Logged, Repeated("ERROR_Connection aborted on request для " + PageUrl(), 15));

    ASSERT_TRUE(WriteClientCertificate(dir.path(), ClientKeyPassPhrase));
    EXPECT_EQ(RunJob(dir.path()).Result, TFetchResult::Fetched);
}

INSTANTIATE_TEST_SUITE_P(
    Changes, FetchCertificateChange,
    testing::Values(
        TCertificateChangeCase{
            "KeyRemoved", [](const QDir& d) { return QFile::remove(d.filePath("01key.pem")); }},
        TCertificateChangeCase{
            "CertificateRemoved",
            [](const QDir& d) { return QFile::remove(d.filePath("01cert.pem")); }},
        TCertificateChangeCase{
            "KeyGarbled",
            [](const QDir& d) { return Overwrite(d.filePath("01key.pem"), "not a key\n"); }},
        TCertificateChangeCase{
            "CertificateGarbled",
            [](const QDir& d) { return Overwrite(d.filePath("01cert.pem"), "not a cert\n"); }},
        TCertificateChangeCase{
            "KeyOfAnotherPassPhrase",
            [](const QDir& d) { return WriteClientCertificate(d.path(), "another"); }}),
    CaseName);

// With --verify-peer, the server's certificate must chain to the CA file and name the
// host of every connection, relocations included.
struct TPeerCheckCase {
    const char* Name;
    QByteArray AltNames; // of a certificate the test authority issued; empty: self-signed
    const char* Host;    // of the page's URL
    bool Relocate;       // the page relocates to https://localhost on the same port
    long VerifyError;    // X509_V_OK: the page is fetched
};

class FetchPeerCheck : public testing::TestWithParam<TPeerCheckCase> {};

TEST_P(FetchPeerCheck, FailsEveryAttemptWithTheReason) {
    const TPeerCheckCase& c = GetParam();
    QByteArray authority;
    const TTestCertificate issued = IssueCertificate(c.AltNames + "DNS:unused", authority);
    TScriptedServer server(
        {.Tls = true, .Certificate = c.AltNames.isEmpty() ? TTestCertificate() : issued});
    const QByteArray moved =
        "HTTP/1.0 302 Found\r\nLocation: https://localhost:" + server.PortText().toUtf8() +
        "/avto/\r\nContent-Length: 0\r\n\r\n";
    server.SetScripts(Replies({c.Relocate ? moved : Ok(Page)}));
    const QString url = QStringLiteral("https://%1:%2/avto/").arg(c.Host, server.PortText());
    TFetchJob job(url);
    job.VerifyPeer = true;
    job.CaFile = QDir(job.CertificateDir()).filePath("ca.pem");
    ASSERT_TRUE(Overwrite(job.CaFile, authority));
    job.StartJob();
    ASSERT_TRUE(job.WaitForHandOver());

    const bool passes = c.VerifyError == X509_V_OK;
    EXPECT_EQ(job.result, passes ? TFetchResult::Fetched : TFetchResult::Failed);
    const QString failure =
        QStringLiteral("ERROR_SSL handshake failed - certificate verify failed: ") +
        X509_verify_cert_error_string(c.VerifyError) + " для " + url;
    EXPECT_EQ(job.LoggedTexts(), passes ? QStringList() : Repeated(failure, 15));
}

INSTANTIATE_TEST_SUITE_P(
    Certificates, FetchPeerCheck,
    testing::Values(
        TPeerCheckCase{"IssuedForTheAddress", "IP:127.0.0.1,", "127.0.0.1", false, X509_V_OK},
        TPeerCheckCase{"IssuedForTheName", "DNS:localhost,", "localhost", false, X509_V_OK},
        TPeerCheckCase{"SelfSigned", "", "127.0.0.1", false,
                       X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT},
        TPeerCheckCase{"IssuedForAnotherName", "IP:127.0.0.1,", "localhost", false,
                       X509_V_ERR_HOSTNAME_MISMATCH},
        TPeerCheckCase{"IssuedForAnotherAddress", "DNS:localhost,", "127.0.0.1", false,
                       X509_V_ERR_IP_ADDRESS_MISMATCH},
        TPeerCheckCase{"RelocatedToAHostNotNamed", "IP:127.0.0.1,", "127.0.0.1", true,
                       X509_V_ERR_HOSTNAME_MISMATCH}),
    CaseName);

TEST(FetchRefused, PausesAfterEveryRefusedConnection) {
    const QString pageUrl = "https://127.0.0.1:" + UnusedPort() + "/";
    TFetchJob job(pageUrl);
    job.StartJob();
    ASSERT_TRUE(job.WaitForHandOver());
    EXPECT_EQ(job.result, TFetchResult::Failed);
    EXPECT_TRUE(job.statusText.contains("#10061")) << qPrintable(job.statusText);
    EXPECT_EQ(job.LoggedTexts(), Repeated(job.statusText + " для " + pageUrl, 15));
    EXPECT_EQ(job.Waits(), PausedAttempts(15));
}

// Jobs on a tick count the test moves by hand, so no time-out fires before the test
// lets it. It starts just below the wrap of the 32-bit count, so every wait and
// time-out here spans the wrap.
std::atomic<uint32_t> FakeTicks;
std::atomic<int> TickReads;
// The client measures a span across the wrap as 4294967295 - last + now, one
// millisecond short of the distance.
constexpr uint32_t WrapShortfall = 1;

class FetchWaits : public FetchJobTest {
protected:
    void SetUp() override {
        FakeTicks = 0xFFFFFE00u;
        SetTickSourceForTests([] {
            ++TickReads;
            return FakeTicks.load();
        });
    }
    void TearDown() override { SetTickSourceForTests({}); }

    // Moves the clock on by `ms` again and again until `done` holds: a record that
    // arrives late (a session ticket after the handshake) stamps the connection
    // anew, so the first step need not be the one that ends it.
    static bool AdvanceUntil(uint32_t ms, const std::function<bool()>& done) {
        return ProcessEventsUntil([&] {
            if (done())
                return true;
            FakeTicks += ms + WrapShortfall;
            return false;
        });
    }
    static bool WaitsReach(const TFetchJob& job, size_t count) {
        return ProcessEventsUntil([&] { return job.Waits().size() >= count; });
    }
    // True once the job's wait has read the clock twice more, so it went on after
    // the first reading; false when the job finished instead, since an ended wait
    // reads it no more.
    static bool KeepsWaiting(const TFetchJob& job) {
        const int base = TickReads.load();
        ProcessEventsUntil([&] { return TickReads.load() >= base + 2 || job.Finished(); });
        return !job.Finished();
    }
};

TEST_F(FetchWaits, PausesAfterTheInactivityTimeOut) {
    Server.SetScripts(Replies({QByteArray(), Ok(Page)}));
    TFetchJob job(PageUrl());
    job.SetTimeout(1);
    job.StartJob();
    ASSERT_TRUE(ProcessEventsUntil([&] { return Server.Requests().size() == 1; }));
    ASSERT_TRUE(AdvanceUntil(1000, [&] { return !job.LoggedTexts().isEmpty(); }));
    ASSERT_TRUE(job.WaitForHandOver());
    EXPECT_EQ(job.result, TFetchResult::Fetched);
    EXPECT_EQ(job.LoggedTexts(), QStringList{"ERROR_Request aborted on timeout для " + PageUrl()});
    EXPECT_EQ(job.Waits(), TWaits{Pause});
}

struct TStopCase {
    const char* Name;
    QList<QByteArray> Replies; // the last one never answers
    TFetchResult Result;
    QString Status;
    int Logged;
};

class FetchStopDuringGet : public FetchWaits, public testing::WithParamInterface<TStopCase> {};

// The stop request is seen when Get returns (here: at the client's time-out, which
// the test brings about after the stop), and the interrupted attempt leaves no trace.
TEST_P(FetchStopDuringGet, EndsWhenGetReturns) {
    const TStopCase& c = GetParam();
    Server.SetScripts(Replies(c.Replies));
    TFetchJob job(PageUrl());
    job.SetTimeout(3);
    job.StartJob();
    ASSERT_TRUE(ProcessEventsUntil([&] { return Server.Requests().size() == c.Replies.size(); }));
    job.Terminate();
    ASSERT_TRUE(AdvanceUntil(3000, [&] { return job.Finished(); }));
    ASSERT_TRUE(job.WaitForHandOver());

    EXPECT_EQ(job.result, c.Result);
    EXPECT_EQ(job.statusText, c.Status);
    EXPECT_EQ(job.LoggedTexts().size(), c.Logged);
    EXPECT_EQ(job.Waits(), TWaits{});
    EXPECT_EQ(Server.Connections(), c.Replies.size());
}

INSTANTIATE_TEST_SUITE_P(
    Stops, FetchStopDuringGet,
    testing::Values(TStopCase{"first_attempt", {QByteArray()}, TFetchResult::None, "", 0},
                    TStopCase{"after_a_failure",
                              {NotFound, QByteArray()},
                              TFetchResult::Failed,
                              "ERROR_Not Found",
                              1}),
    CaseName);

TEST_F(FetchWaits, FinalWaitEndsOnAStopRequest) {
    Server.SetScripts(Replies({Ok(Capital)}));
    TFetchJob job(PageUrl());
    job.RealWaits = true;
    job.StartJob();
    ASSERT_TRUE(WaitsReach(job, 1));
    EXPECT_TRUE(KeepsWaiting(job));
    job.Terminate();
    ASSERT_TRUE(job.WaitForHandOver());
    EXPECT_EQ(job.result, TFetchResult::Failed);
}

// A wait runs a second of ticks, not a tick less: the final wait after the 15th
// failure, and the pause after a header that the close cut (which the client ends
// at once, but which must not bring the next attempt any sooner).
TEST_F(FetchWaits, WaitsRunOutAfterASecondOfTicks) {
    const struct {
        const char* Name;
        QList<QByteArray> Replies;
        TFetchResult Result;
        int ConnectionsWaiting; // while the job waits
        int Connections;        // in all
        TWaits Waits;
    } cases[] = {
        {"final_wait", {Ok(Capital)}, TFetchResult::Failed, 15, 15, {FinalWait}},
        {"header_cut_pause",
         {"HTTP/1.0 200 OK\r\nContent-Ty", Ok(Page)},
         TFetchResult::Fetched,
         1,
         2,
         {Pause}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TScriptedServer server{{.Tls = true}};
        server.SetScripts(Replies(c.Replies));
        TFetchJob job("https://127.0.0.1:" + server.PortText() + "/avto/");
        job.RealWaits = true;
        job.StartJob();
        ASSERT_TRUE(WaitsReach(job, 1));
        FakeTicks += 999;
        EXPECT_TRUE(KeepsWaiting(job));
        EXPECT_EQ(server.Connections(), c.ConnectionsWaiting);
        FakeTicks += 1;
        ASSERT_TRUE(job.WaitForHandOver());
        EXPECT_EQ(job.result, c.Result);
        EXPECT_EQ(server.Connections(), c.Connections);
        EXPECT_EQ(job.Waits(), c.Waits);
    }
}

TEST_F(FetchWaits, PauseRunsOutDespiteAStopAndNoAttemptFollows) {
    const QString pageUrl = "https://127.0.0.1:" + UnusedPort() + "/";
    TFetchJob job(pageUrl);
    job.RealWaits = true;
    job.StartJob();
    ASSERT_TRUE(WaitsReach(job, 1));
    job.Terminate();
    EXPECT_TRUE(KeepsWaiting(job));
    FakeTicks += 1000;
    ASSERT_TRUE(job.WaitForHandOver());
    EXPECT_EQ(job.LoggedTexts().size(), 1);
    EXPECT_EQ(job.Waits(), TWaits{Pause});
}

} // namespace
