#pragma once

#include <QByteArray>
#include <QString>

// Certificates and keys made at test time with the TLS library (P-256 keys,
// SHA-256 signatures), so no key material lives in the repository.

struct TTestCertificate {
    QByteArray CertificatePem;
    QByteArray KeyPem; // unencrypted
};

// A self-signed certificate for `commonName`: valid from an hour ago for 30 days,
// or, when `expired`, one that ended yesterday.
TTestCertificate MakeSelfSignedCertificate(const QString& commonName, bool expired = false);

// Writes a fresh client certificate and its private key into `dir` as
// `certName` and `keyName`, the key encrypted (AES-256) with `passPhrase`.
// Returns false when a file cannot be written.
bool WriteClientCertificate(const QString& dir, const QString& passPhrase,
                            const QString& certName = QStringLiteral("01cert.pem"),
                            const QString& keyName = QStringLiteral("01key.pem"));
