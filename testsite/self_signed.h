#pragma once

#include <openssl/ssl.h>

// Gives `context` a fresh P-256 key and a self-signed certificate for 127.0.0.1,
// made in memory at start so the site needs no files. Throws on failure.
void UseSelfSignedCertificate(SSL_CTX* context);
