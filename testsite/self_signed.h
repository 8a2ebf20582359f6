#pragma once

#include <openssl/ssl.h>

// Gives `context` a fresh P-256 key and a self-signed certificate for 127.0.0.1,
// made in memory at start so the site needs no files. Throws on failure.
void UseSelfSignedCertificate(SSL_CTX* context);

// Writes a client certificate and its private key as PEM files, the key encrypted
// with `passPhrase`, as the program expects to find them. Throws on failure.
void WriteClientCertificateFiles(const char* certPath, const char* keyPath, const char* passPhrase);
