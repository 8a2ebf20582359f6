#include "fetch/client_files.h"
#include "fetch/ssl_context.h"

#include "tests/qt_print.h"
#include "tests/support/case_name.h"
#include "testsite/certificates.h"

#include <QDir>
#include <QTemporaryDir>

#include <openssl/ssl.h>

#include <gtest/gtest.h>

#include <memory>
#include <optional>

namespace {

TEST(SslContextTest, DefaultsBuildAContextWithTheSystemsLibrarySettings) {
    TSslContext context;
    context.InitContext();
    SSL_CTX* ctx = context.Handle();
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(SSL_CTX_get_security_level(ctx), 1);
    EXPECT_EQ(SSL_CTX_get_verify_mode(ctx), SSL_VERIFY_NONE);
    EXPECT_EQ(SSL_CTX_get_verify_depth(ctx), 0);
    EXPECT_NE(SSL_CTX_get_options(ctx) & SSL_OP_IGNORE_UNEXPECTED_EOF, 0u);
    EXPECT_NE(SSL_CTX_get_mode(ctx) & SSL_MODE_AUTO_RETRY, 0u);
}

TEST(SslContextTest, SecondInitContextKeepsTheBuiltContext) {
    TSslContext context;
    context.InitContext();
    SSL_CTX* first = context.Handle();
    context.InitContext();
    EXPECT_EQ(context.Handle(), first);
}

TEST(SslContextTest, SetsTheProtocolBounds) {
    const struct {
        TSslVerMethod Min;
        TSslVerMethod Max;
        long ExpectedMin; // 0: the library's own bound
        long ExpectedMax;
    } cases[] = {
        {sslVerSSL3, sslVerMax, 0x0300, 0x0304},
        // The highest value as a minimum reads as the lowest.
        {sslVerMax, sslVerTLS1_2, 0x0300, 0x0303},
        {sslVerTLS1_2, sslVerTLS1_3, 0x0303, 0x0304},
        // A maximum below the minimum leaves the library's range.
        {sslVerTLS1_3, sslVerTLS1_2, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "min " << c.Min << ", max " << c.Max);
        TSslContext context;
        context.SetSslMinVersion(c.Min);
        context.SetSslMaxVersion(c.Max);
        context.InitContext();
        EXPECT_EQ(SSL_CTX_get_min_proto_version(context.Handle()), c.ExpectedMin);
        EXPECT_EQ(SSL_CTX_get_max_proto_version(context.Handle()), c.ExpectedMax);
    }
}

TEST(SslContextTest, AcceptsOrRejectsTheCipherList) {
    const struct {
        const char* List;
        std::optional<const char*> FailureStart;
    } cases[] = {
        {"ALL:!ADH:RC4+RSA:+SSLv2:@STRENGTH", std::nullopt},
        {"HIGH", std::nullopt},
        {"", "Cipher list empty"},
        {"NO-SUCH-CIPHER", "Error loading cipher list\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.List);
        TSslContext context;
        context.SetSslCipherList(QString::fromLatin1(c.List));
        if (!c.FailureStart) {
            EXPECT_NO_THROW(context.InitContext());
            continue;
        }
        try {
            context.InitContext();
            ADD_FAILURE() << "no failure raised";
        } catch (const ESslContextException& e) {
            EXPECT_TRUE(e.Message().startsWith(QString::fromLatin1(*c.FailureStart))) << e.what();
        }
        EXPECT_FALSE(context.Initialized());
    }
}

TEST(SslContextTest, FileNamedAfterTheContextExistsIsLoadedAtOnce) {
    TSslContext context;
    context.InitContext();
    try {
        context.SetSslCertFile(QStringLiteral("no-such-cert.pem"));
        FAIL() << "no failure raised";
    } catch (const ESslContextException& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("File not found \"no-such-cert.pem\""));
    }
    EXPECT_EQ(context.Settings().SslCertFile, QStringLiteral("no-such-cert.pem"));
}

TEST(SslContextTest, DhParametersThatCannotBeReadFailTheBuild) {
    TSslContext context;
    context.SetSslDHParamLines({QStringLiteral("-----BEGIN DH PARAMETERS-----"),
                                QStringLiteral("bm90IHBhcmFtZXRlcnM="),
                                QStringLiteral("-----END DH PARAMETERS-----")});
    EXPECT_THROW(context.InitContext(), ESslContextException);
    EXPECT_FALSE(context.Initialized());
}

// Parsed parameters are shared between contexts; a text that fails must fail again
// for the next context rather than leave anything behind.
TEST(SslContextTest, DhParametersFailEveryTimeAndGoodOnesStillLoad) {
    const QStringList broken = {QStringLiteral("-----BEGIN DH PARAMETERS-----"),
                                QStringLiteral("AAAA"),
                                QStringLiteral("-----END DH PARAMETERS-----")};
    for (int round = 0; round < 2; ++round) {
        TSslContext context;
        context.SetSslDHParamLines(broken);
        try {
            context.InitContext();
            ADD_FAILURE() << "round " << round << " built a context";
        } catch (const ESslContextException& e) {
            EXPECT_TRUE(e.Message().startsWith("Error loading DH parameters\r\n")) << round;
        }
    }
    TSslContext first, second;
    first.InitContext();
    second.InitContext();
    EXPECT_TRUE(first.Initialized() && second.Initialized());
}

struct TTrustCase {
    const char* Name;
    bool VerifyPeer;
    bool Shared; // both contexts use one process-wide store
};

class SslTrustStoreTest : public testing::TestWithParam<TTrustCase> {};

// The two differ in their cipher lists, so each is a build of its own.
TEST_P(SslTrustStoreTest, DefaultTrustIsLoadedOnceAndOnlyForVerification) {
    TSslContext first, second;
    second.SetSslCipherList(QStringLiteral("HIGH"));
    for (TSslContext* context : {&first, &second}) {
        context->SetSslVerifyPeer(GetParam().VerifyPeer);
        context->InitContext();
    }
    ASSERT_NE(first.Handle(), second.Handle());
    X509_STORE* a = SSL_CTX_get_cert_store(first.Handle());
    X509_STORE* b = SSL_CTX_get_cert_store(second.Handle());
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a == b, GetParam().Shared);
}

INSTANTIATE_TEST_SUITE_P(Verification, SslTrustStoreTest,
                         testing::Values(TTrustCase{"Off", false, false},
                                         TTrustCase{"On", true, true}),
                         CaseName);

std::unique_ptr<TSslContext> ContextWithFilesOf(const QTemporaryDir& dir) {
    auto context = std::make_unique<TSslContext>();
    context->SetSslPassPhrase(ClientKeyPassPhrase);
    context->SetSslCertFile(QDir(dir.path()).filePath("01cert.pem"));
    context->SetSslPrivKeyFile(QDir(dir.path()).filePath("01key.pem"));
    context->InitContext();
    return context;
}

// Jobs with the same settings and files share one build; new bytes in the files
// give a build of their own, whatever the files are called.
TEST(SslContextTest, BuildIsSharedPerFileContent) {
    QTemporaryDir dir;
    ASSERT_TRUE(WriteClientCertificate(dir.path(), ClientKeyPassPhrase));
    const auto first = ContextWithFilesOf(dir);
    const auto second = ContextWithFilesOf(dir);
    EXPECT_EQ(first->Handle(), second->Handle());

    ASSERT_TRUE(WriteClientCertificate(dir.path(), ClientKeyPassPhrase));
    const auto renewed = ContextWithFilesOf(dir);
    ASSERT_NE(renewed->Handle(), first->Handle());
    X509* before = SSL_CTX_get0_certificate(first->Handle());
    X509* after = SSL_CTX_get0_certificate(renewed->Handle());
    ASSERT_TRUE(before && after);
    EXPECT_NE(X509_cmp(before, after), 0);
    EXPECT_EQ(SSL_CTX_check_private_key(renewed->Handle()), 1);
}

TEST(SslContextTest, EveryBuiltContextCountsAsALibraryUser) {
    const int before = TSslContext::LibraryUsers();
    {
        TSslContext first;
        TSslContext second;
        first.InitContext();
        second.InitContext();
        first.InitContext();
        EXPECT_EQ(TSslContext::LibraryUsers(), before + 2);
    }
    EXPECT_EQ(TSslContext::LibraryUsers(), before);
}

TEST(SslContextTest, VersionNumbersOfTheVersionSettings) {
    const std::pair<TSslVerMethod, int> table[] = {{sslVerSSL3, 0x0300},   {sslVerTLS1, 0x0301},
                                                   {sslVerTLS1_1, 0x0302}, {sslVerTLS1_2, 0x0303},
                                                   {sslVerTLS1_3, 0x0304}, {sslVerMax, 0x0304}};
    for (const auto& [version, number] : table)
        EXPECT_EQ(SslVersionNumber(version), number) << version;
}

} // namespace
