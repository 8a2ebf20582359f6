#include "testsite/certificates.h"

#include "platform/c_owner.h"

#include <QDir>
#include <QFile>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <atomic>
#include <memory>
#include <stdexcept>

namespace {

using TKeyPtr = TCOwner<EVP_PKEY, EVP_PKEY_free>;
using TCertPtr = TCOwner<X509, X509_free>;
using TBioPtr = TCOwner<BIO, BIO_free_all>;

std::atomic<long> NextSerial{1};

QByteArray BioBytes(BIO* bio) {
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio, &data);
    return QByteArray(data, static_cast<qsizetype>(length));
}

void Require(bool ok, const char* what) {
    if (!ok)
        throw std::runtime_error(std::string("self-signed certificate: ") + what);
}

// A certificate of `key` for `commonName`, issued by itself until an issuer is named.
TCertPtr UnsignedCertificate(EVP_PKEY* key, const QString& commonName, bool expired) {
    TCertPtr cert(X509_new());
    Require(cert && X509_set_version(cert.get(), 2) == 1, "new certificate");
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), NextSerial++);
    const long day = 24 * 3600;
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), expired ? -2 * day : -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), expired ? -day : 30 * day);
    X509_set_pubkey(cert.get(), key);
    X509_NAME* name = X509_get_subject_name(cert.get());
    const QByteArray cn = commonName.toUtf8();
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(cn.constData()), -1, -1, 0);
    X509_set_issuer_name(cert.get(), name);
    return cert;
}

TCertPtr SignedCertificate(EVP_PKEY* key, const QString& commonName, bool expired) {
    TCertPtr cert = UnsignedCertificate(key, commonName, expired);
    Require(X509_sign(cert.get(), key, EVP_sha256()) > 0, "signing");
    return cert;
}

// Adds the extension `nid` with the value `value` in the library's configuration syntax.
void AddExtension(X509* cert, X509* issuer, int nid, const QByteArray& value) {
    X509V3_CTX context;
    X509V3_set_ctx(&context, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.constData());
    const bool added = extension && X509_add_ext(cert, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    Require(added, "extension");
}

QByteArray CertificatePem(X509* cert) {
    TBioPtr bio(BIO_new(BIO_s_mem()));
    Require(PEM_write_bio_X509(bio.get(), cert) == 1, "certificate PEM");
    return BioBytes(bio.get());
}

QByteArray KeyPem(EVP_PKEY* key, const QByteArray& passPhrase) {
    TBioPtr bio(BIO_new(BIO_s_mem()));
    const EVP_CIPHER* cipher = passPhrase.isEmpty() ? nullptr : EVP_aes_256_cbc();
    Require(PEM_write_bio_PKCS8PrivateKey(bio.get(), key, cipher, passPhrase.constData(),
                                          static_cast<int>(passPhrase.size()), nullptr,
                                          nullptr) == 1,
            "key PEM");
    return BioBytes(bio.get());
}

bool WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

TKeyPtr NewKey() {
    TKeyPtr key(EVP_EC_gen("P-256"));
    Require(key != nullptr, "key generation");
    return key;
}

} // namespace

TTestCertificate MakeSelfSignedCertificate(const QString& commonName, bool expired) {
    const TKeyPtr key = NewKey();
    const TCertPtr cert = SignedCertificate(key.get(), commonName, expired);
    return {CertificatePem(cert.get()), KeyPem(key.get(), QByteArray())};
}

TTestCertificate IssueCertificate(const QByteArray& altNames, QByteArray& authorityPem) {
    const TKeyPtr authorityKey = NewKey();
    TCertPtr authority = UnsignedCertificate(authorityKey.get(), "Quorvel test authority", false);
    AddExtension(authority.get(), authority.get(), NID_basic_constraints, "critical,CA:TRUE");
    Require(X509_sign(authority.get(), authorityKey.get(), EVP_sha256()) > 0, "signing");
    const TKeyPtr key = NewKey();
    TCertPtr cert = UnsignedCertificate(key.get(), "Quorvel test server", false);
    X509_set_issuer_name(cert.get(), X509_get_subject_name(authority.get()));
    AddExtension(cert.get(), authority.get(), NID_subject_alt_name, altNames);
    Require(X509_sign(cert.get(), authorityKey.get(), EVP_sha256()) > 0, "signing");
    authorityPem = CertificatePem(authority.get());
    return {CertificatePem(cert.get()), KeyPem(key.get(), QByteArray())};
}

void UseSelfSignedCertificate(SSL_CTX* context) {
    const TKeyPtr key = NewKey();
    const TCertPtr cert = SignedCertificate(key.get(), QStringLiteral("127.0.0.1"), false);
    Require(SSL_CTX_use_certificate(context, cert.get()) == 1, "use certificate");
    Require(SSL_CTX_use_PrivateKey(context, key.get()) == 1, "use key");
}

void WriteSelfSignedPem(const QString& certFile, const QString& keyFile) {
    const TTestCertificate pem = MakeSelfSignedCertificate(QStringLiteral("127.0.0.1"));
    Require(WriteFile(certFile, pem.CertificatePem) && WriteFile(keyFile, pem.KeyPem),
            "cannot write a PEM file");
}

bool WriteClientCertificate(const QString& dir, const QString& passPhrase, const QString& certName,
                            const QString& keyName) {
    const TKeyPtr key = NewKey();
    const TCertPtr cert = SignedCertificate(key.get(), QStringLiteral("quorvel client"), false);
    const QDir base(dir);
    return WriteFile(base.filePath(certName), CertificatePem(cert.get())) &&
           WriteFile(base.filePath(keyName), KeyPem(key.get(), passPhrase.toUtf8()));
}
