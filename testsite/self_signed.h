#pragma once

#include <QString>

#include <openssl/ssl.h>

// Gives `context` a fresh P-256 key and a self-signed certificate for 127.0.0.1,
// made in memory at start so the site needs no files. Throws on failure.
void UseSelfSignedCertificate(SSL_CTX* context);

// Writes a fresh P-256 key and a self-signed certificate for 127.0.0.1 as PEM files,
// for a server that reads them from disk. Throws on failure.
void WriteSelfSignedPem(const QString& certFile, const QString& keyFile);
