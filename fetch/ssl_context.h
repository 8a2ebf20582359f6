#pragma once

#include "platform/exception.h"

#include <QString>
#include <QStringList>

#include <openssl/types.h>

#include <cstdint>
#include <mutex>

enum TSslVersionMethod {
    sslV2,
    sslV2_CLIENT,
    sslV2_SERVER,
    sslV3,
    sslV3_CLIENT,
    sslV3_SERVER,
    sslTLS_V1,
    sslTLS_V1_CLIENT,
    sslTLS_V1_SERVER,
    sslV23,
    sslV23_CLIENT,
    sslV23_SERVER,
    sslTLS_V1_1,
    sslTLS_V1_1_CLIENT,
    sslTLS_V1_1_SERVER,
    sslTLS_V1_2,
    sslTLS_V1_2_CLIENT,
    sslTLS_V1_2_SERVER,
    sslBestVer,
    sslBestVer_CLIENT,
    sslBestVer_SERVER
};

enum TSslVerMethod { sslVerSSL3, sslVerTLS1, sslVerTLS1_1, sslVerTLS1_2, sslVerTLS1_3, sslVerMax };

// The protocol version number a TSslVerMethod stands for (0x0300 ... 0x0304).
int SslVersionNumber(TSslVerMethod version);

// The position is the library's security level.
enum TSslSecLevel {
    sslSecLevelAny,
    sslSecLevel80bits,
    sslSecLevel112bits,
    sslSecLevel128bits,
    sslSecLevel192bits,
    sslSecLevel256bits
};

// Flags of SslVerifyPeerModes (used only when SslVerifyPeer is true).
enum TSslVerifyPeerMode {
    SslVerifyMode_PEER = 1,
    SslVerifyMode_FAIL_IF_NO_PEER_CERT = 2,
    SslVerifyMode_CLIENT_ONCE = 4
};

// A failure of the TLS library or of building the library context; the message
// is the exact text the log shows.
class ESslContextException : public Exception {
public:
    using Exception::Exception;
};

// The TLS settings of one owner and their defaults. The linked library always
// takes its general method, so SslVersionMethod matters only to libraries older
// than the one this program links and is kept for the settings' sake.
struct TSslContextSettings {
    QString SslCertFile;
    QString SslPrivKeyFile;
    QString SslPassPhrase;
    bool SslVerifyPeer = false;
    // With SslVerifyPeer: the PEM certificates trusted instead of the system's trust
    // store; empty = the library's default trust locations.
    QString SslCAFile;
    TSslVersionMethod SslVersionMethod = sslBestVer;
    TSslVerMethod SslMinVersion = sslVerSSL3;
    TSslVerMethod SslMaxVersion = sslVerMax;
    QString SslCipherList = QStringLiteral("ALL:!ADH:RC4+RSA:+SSLv2:@STRENGTH");
    TSslSecLevel SslSecLevel = sslSecLevel80bits;
    int SslVerifyPeerModes = SslVerifyMode_PEER;
    int SslVerifyDepth = 9;
    // Library option bits (SSL_OP_...); none by default.
    uint64_t SslOptions = 0;
    // PEM DH parameters; the default is a standard 4096-bit group.
    QStringList SslDHParamLines = DefaultDHParamLines();

    static QStringList DefaultDHParamLines();
    bool operator==(const TSslContextSettings&) const = default;
};

// The TLS settings object: holds the settings and gets from them, once, the
// library context (SSL_CTX) that every connection of its owner uses.
//
// Library contexts are shared across the process: InitContext reads the key and
// certificate files and takes the context built earlier from the same settings
// and the same file bytes, building one only for a content not seen before. So the
// key is decrypted and both files are parsed once per distinct content, and the
// sessions that servers hand out (kept with the shared context, per host and port)
// let later connections resume instead of making a full handshake. A file that
// changes, disappears or goes bad is noticed by the next InitContext.
//
// Owned by one fetch worker; InitContext and the setters take the object's own
// lock, so a context may be set up on one thread and used on another. The TLS
// library is initialised once per process under a process-wide lock and counted
// per context; it is never cleaned up while the process runs (the library cannot
// be initialised again after its clean-up). A failed InitContext keeps nothing:
// the next connection tries again, re-reading the key and certificate files.
//
// Every connection gets SSL_OP_IGNORE_UNEXPECTED_EOF on top of SslOptions: a
// server that ends the connection without a TLS close notice (common after a
// body that runs to the end of the connection) then gives an ordinary close.
class TSslContext {
public:
    TSslContext();
    ~TSslContext();
    TSslContext(const TSslContext&) = delete;
    TSslContext& operator=(const TSslContext&) = delete;

    TSslContextSettings Settings() const;

    // A certificate or key file named after the library context exists is loaded
    // at once (and raises like InitContext when it cannot be).
    void SetSslCertFile(const QString& value);
    void SetSslPrivKeyFile(const QString& value);
    void SetSslPassPhrase(const QString& value);
    void SetSslVerifyPeer(bool value);
    void SetSslCAFile(const QString& value);
    void SetSslVersionMethod(TSslVersionMethod value);
    void SetSslMinVersion(TSslVerMethod value);
    void SetSslMaxVersion(TSslVerMethod value);
    void SetSslCipherList(const QString& value);
    void SetSslSecLevel(TSslSecLevel value);
    void SetSslVerifyPeerModes(int value);
    void SetSslVerifyDepth(int value);
    void SetSslOptions(uint64_t value);
    void SetSslDHParamLines(const QStringList& value);

    // Initialises the library for this context (once) and builds the library
    // context from the settings unless it exists. Raises ESslContextException with
    // the failure's text; nothing of a failed attempt is kept.
    void InitContext();
    bool Initialized() const;

    // The library context, or null before a successful InitContext. Connections
    // take their per-connection objects from it on the owner's thread.
    SSL_CTX* Handle() const;

    // Contexts currently counted as users of the TLS library (process-wide).
    static int LibraryUsers();

private:
    void LoadTlsLibrary();
    void Rebuild();

    mutable std::mutex FLock;
    TSslContextSettings FSettings;
    SSL_CTX* FContext = nullptr;
    bool FLibraryCounted = false;
};
