#include "fetch/ssl_engine.h"

#include "tests/qt_print.h"
#include "testsite/certificates.h"

#include <openssl/pem.h>
#include <openssl/ssl.h>

#include <gtest/gtest.h>

#include <memory>

namespace {

// A TLS 1.2 server session over a memory buffer pair, stepped by the test, so a
// renegotiation can be started at an exact point of the client's life.
class TServerSession {
public:
    TServerSession() {
        const TTestCertificate certificate = MakeSelfSignedCertificate("localhost");
        FContext = SSL_CTX_new(TLS_server_method());
        BIO* cert = BIO_new_mem_buf(certificate.CertificatePem.constData(), -1);
        BIO* key = BIO_new_mem_buf(certificate.KeyPem.constData(), -1);
        X509* x509 = PEM_read_bio_X509(cert, nullptr, nullptr, nullptr);
        EVP_PKEY* pkey = PEM_read_bio_PrivateKey(key, nullptr, nullptr, nullptr);
        SSL_CTX_use_certificate(FContext, x509);
        SSL_CTX_use_PrivateKey(FContext, pkey);
        SSL_CTX_set_max_proto_version(FContext, TLS1_2_VERSION); // 1.3 has no renegotiation
        X509_free(x509);
        EVP_PKEY_free(pkey);
        BIO_free(cert);
        BIO_free(key);
        Ssl = SSL_new(FContext);
        BIO* inner = nullptr;
        BIO_new_bio_pair(&inner, PairSize, &FNetwork, PairSize);
        SSL_set_bio(Ssl, inner, inner);
        SSL_set_accept_state(Ssl);
    }
    ~TServerSession() {
        SSL_free(Ssl);
        BIO_free(FNetwork);
        SSL_CTX_free(FContext);
    }

    void Put(const QByteArray& bytes) {
        if (!bytes.isEmpty()) {
            ASSERT_EQ(BIO_write(FNetwork, bytes.constData(), int(bytes.size())), bytes.size());
        }
    }
    QByteArray Take() {
        QByteArray out(int(BIO_ctrl_pending(FNetwork)), Qt::Uninitialized);
        if (!out.isEmpty())
            BIO_read(FNetwork, out.data(), int(out.size()));
        return out;
    }
    // Whatever application data has arrived; drives the server's handshakes too.
    QByteArray Read() {
        QByteArray plain;
        char buffer[4096];
        for (int got; (got = SSL_read(Ssl, buffer, sizeof buffer)) > 0;)
            plain.append(buffer, got);
        return plain;
    }

    SSL* Ssl = nullptr;

private:
    static constexpr size_t PairSize = 1 << 20; // room for everything a step sends
    SSL_CTX* FContext = nullptr;
    BIO* FNetwork = nullptr;
};

struct TClientContext {
    SSL_CTX* Handle = SSL_CTX_new(TLS_client_method());
    ~TClientContext() { SSL_CTX_free(Handle); }
};

// A server that renegotiates makes the client's next write wait for the new
// handshake; the bytes then go out after it, none lost, none twice.
TEST(SslEngineTest, BytesWrittenDuringARenegotiationAreSentAfterIt) {
    TServerSession server;
    TClientContext context;
    TSslEngine client(context.Handle, "localhost");
    for (int round = 0; round < 10 && !SSL_is_init_finished(server.Ssl); ++round) {
        client.Handshake();
        server.Put(client.TakeOutput());
        SSL_do_handshake(server.Ssl);
        const QByteArray toClient = server.Take();
        client.PutInput(toClient.constData(), size_t(toClient.size()));
    }
    ASSERT_EQ(client.Handshake(), TSslEngine::ResultDone);

    ASSERT_EQ(SSL_renegotiate(server.Ssl), 1);
    SSL_do_handshake(server.Ssl); // the hello request
    const QByteArray hello = server.Take();
    client.PutInput(hello.constData(), size_t(hello.size()));
    QByteArray plain;
    client.Read(plain); // answers it: the client's side of the new handshake begins

    const QByteArray request = "GET /next HTTP/1.0\r\n\r\n" + QByteArray(40000, 'r');
    QByteArray encrypted;
    EXPECT_EQ(client.Write(request, encrypted), TSslEngine::ResultWantInput);
    ASSERT_EQ(client.PendingWrite(), request.size()) << "the write did not have to wait";

    QByteArray atServer;
    for (int round = 0; round < 20 && atServer.size() < request.size(); ++round) {
        server.Put(encrypted + client.TakeOutput());
        encrypted.clear();
        atServer += server.Read();
        const QByteArray toClient = server.Take();
        client.PutInput(toClient.constData(), size_t(toClient.size()));
        client.Read(plain);
        client.Write({}, encrypted);
    }
    EXPECT_EQ(client.PendingWrite(), 0);
    EXPECT_TRUE(atServer == request) << atServer.size() << " of " << request.size() << " bytes";
}

} // namespace
