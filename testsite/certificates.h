#pragma once

#include <QByteArray>
#include <QString>

#include <openssl/ssl.h>

// Certificates and keys made at run time with the TLS library (P-256 keys, SHA-256
// signatures), so no key material lives in the repository: the site's own, and
// the ones tests, benchmarks and the demo need. Any thread; throw
// std::runtime_error when the library fails.

struct TTestCertificate {
    QByteArray CertificatePem;
    QByteArray KeyPem; // unencrypted
};

// A self-signed certificate for `commonName`: valid from an hour ago for 30 days,
// or, when `expired`, one that ended yesterday.
TTestCertificate MakeSelfSignedCertificate(const QString& commonName, bool expired = false);

// A server certificate for the names `altNames` ("DNS:localhost,IP:127.0.0.1"),
// valid from an hour ago for 30 days, issued by a fresh authority whose certificate
// is put in `authorityPem`.
TTestCertificate IssueCertificate(const QByteArray& altNames, QByteArray& authorityPem);

// Gives `context` a fresh self-signed certificate for 127.0.0.1 and its key, so the
// site needs no files.
void UseSelfSignedCertificate(SSL_CTX* context);

// Writes a fresh self-signed certificate for 127.0.0.1 and its unencrypted key as
// PEM files, for a server that reads them from disk.
void WriteSelfSignedPem(const QString& certFile, const QString& keyFile);

// Writes a fresh client certificate and its private key into `dir` as
// `certName` and `keyName`, the key encrypted (AES-256) with `passPhrase`.
// Returns false when a file cannot be written.
bool WriteClientCertificate(const QString& dir, const QString& passPhrase,
                            const QString& certName = QStringLiteral("01cert.pem"),
                            const QString& keyName = QStringLiteral("01key.pem"));
