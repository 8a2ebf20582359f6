#include "testsite/self_signed.h"

#include <QFile>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <functional>
#include <memory>
#include <stdexcept>

namespace {

struct TKeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct TCertFree {
    void operator()(X509* cert) const { X509_free(cert); }
};

void Check(bool ok, const char* what) {
    if (!ok)
        throw std::runtime_error(std::string("self-signed certificate: ") + what);
}

using TKey = std::unique_ptr<EVP_PKEY, TKeyFree>;
using TCert = std::unique_ptr<X509, TCertFree>;

TCert SelfSignedFor(EVP_PKEY* key, const char* commonName) {
    TCert cert(X509_new());
    Check(cert != nullptr, "certificate");
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 7L * 24 * 3600);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(commonName), -1, -1, 0);
    X509_set_issuer_name(cert.get(), name);
    Check(X509_set_pubkey(cert.get(), key) == 1, "public key");
    Check(X509_sign(cert.get(), key, EVP_sha256()) > 0, "signature");
    return cert;
}

} // namespace

void UseSelfSignedCertificate(SSL_CTX* context) {
    TKey key(EVP_EC_gen("P-256"));
    Check(key != nullptr, "key");
    TCert cert = SelfSignedFor(key.get(), "127.0.0.1");
    Check(SSL_CTX_use_certificate(context, cert.get()) == 1, "use certificate");
    Check(SSL_CTX_use_PrivateKey(context, key.get()) == 1, "use key");
}

namespace {

QByteArray Pem(const std::function<int(BIO*)>& write) {
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), &BIO_free);
    Check(bio && write(bio.get()) == 1, "PEM");
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return QByteArray(data, static_cast<qsizetype>(size));
}

void WriteFile(const QString& name, const QByteArray& bytes) {
    QFile file(name);
    Check(file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
              file.write(bytes) == bytes.size(),
          "cannot write a PEM file");
}

} // namespace

void WriteSelfSignedPem(const QString& certFile, const QString& keyFile) {
    TKey key(EVP_EC_gen("P-256"));
    Check(key != nullptr, "key");
    TCert cert = SelfSignedFor(key.get(), "127.0.0.1");
    WriteFile(certFile, Pem([&](BIO* bio) { return PEM_write_bio_X509(bio, cert.get()); }));
    WriteFile(keyFile, Pem([&](BIO* bio) {
                  return PEM_write_bio_PrivateKey(bio, key.get(), nullptr, nullptr, 0, nullptr,
                                                  nullptr);
              }));
}
