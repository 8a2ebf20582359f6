#pragma once

#include "fetch/ssl_context.h"

#include <QByteArray>

// A client certificate or key file as one build reads it.
struct TSslCredentialFile {
    QString Name;        // empty: no file named, nothing to load
    bool Exists = false; // the named file is there
    bool Read = false;   // and was read whole into Pem
    QByteArray Pem;

    bool operator==(const TSslCredentialFile&) const = default;
};

// The key and certificate files of the settings, read once for one build, so that
// what is built and what it is known by are the same bytes.
struct TSslCredentials {
    TSslCredentialFile Key;
    TSslCredentialFile Cert;

    bool operator==(const TSslCredentials&) const = default;
};

// Why the PEM certificates of the CA file `name` cannot serve as the trust store of
// a context with SslVerifyPeer ("No such file or directory", "not a regular file",
// "no PEM certificate in it", ...); empty when they can. Any thread.
QString CaFileProblem(const QString& name);

// Reads the files the settings name, each only when it is a regular file of at most
// 1 MiB (else it counts as unreadable); raises nothing (BuildSslContext reports what
// is missing).
TSslCredentials ReadSslCredentials(const TSslContextSettings& settings);

// Builds a library context from the settings and the files' bytes: the key first
// (unlocked with the pass phrase), then the certificate chain, then every other
// setting, and gives it a TSslSessionStore. Raises ESslContextException with the
// system's texts ("File not found \"...\"", "Can't load private key file \"...\""
// framed with the library's errors, ...); nothing of a failed build is kept. Any
// thread.
SSL_CTX* BuildSslContext(const TSslContextSettings& settings, const TSslCredentials& credentials);
