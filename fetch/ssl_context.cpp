#include "fetch/ssl_context.h"

#include "fetch/ssl_errors.h"

#include <QFile>
#include <QFileInfo>

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>

#include <cstring>
#include <map>
#include <memory>

namespace {

// Guards the process-wide library state and the count of contexts using it.
std::mutex LibraryLock;
int LibraryUserCount = 0;

const char* const StandardDHGroup[] = {
    "-----BEGIN DH PARAMETERS-----",
    "MIICCAKCAgEA//////////+t+FRYortKmq/cViAnPTzx2LnFg84tNpWp4TZBFGQz",
    "+8yTnc4kmz75fS/jY2MMddj2gbICrsRhetPfHtXV/WVhJDP1H18GbtCFY2VVPe0a",
    "87VXE15/V8k1mE8McODmi3fipona8+/och3xWKE2rec1MKzKT0g6eXq8CrGCsyT7",
    "YdEIqUuyyOP7uWrat2DX9GgdT0Kj3jlN9K5W7edjcrsZCwenyO4KbXCeAvzhzffi",
    "7MA0BM0oNC9hkXL+nOmFg/+OTxIy7vKBg8P+OxtMb61zO7X8vC7CIAXFjvGDfRaD",
    "ssbzSibBsu/6iGtCOGEfz9zeNVs7ZRkDW7w09N75nAI4YbRvydbmyQd62R0mkff3",
    "7lmMsPrBhtkcrv4TCYUTknC0EwyTvEN5RPT9RFLi103TZPLiHnH1S/9croKrnJ32",
    "nuhtK8UiNjoNq8Uhl5sN6todv5pC1cRITgq80Gv6U93vPBsg7j/VnXwl5B0rZp4e",
    "8W5vUsMWTfT7eTDp5OWIV7asfV9C1p9tGHdjzx1VA0AEh/VbpX4xzHpxNciG77Qx",
    "iu1qHgEtnmgyqQdgCpGBMMRtx3j5ca0AOAkpmaMzy4t6Gh25PXFAADwqTs6p+Y0K",
    "zAqCkc3OyX3Pjsm1Wn+IpGtNtahR9EGC4caKAH5eZV9q//////////8CAQI=",
    "-----END DH PARAMETERS-----",
};

struct TContextFree {
    void operator()(SSL_CTX* ctx) const { SSL_CTX_free(ctx); }
};
using TContextPtr = std::unique_ptr<SSL_CTX, TContextFree>;

// The library's queued error texts, each line ended by CR LF.
QString ErrorLines() {
    QString lines;
    for (const QString& text : TakeSslErrorTexts())
        lines += text + QStringLiteral("\r\n");
    return lines;
}

// The library's default trust locations, loaded once and shared by every context
// of the process. Loading them parses the whole system bundle, which costs tens of
// milliseconds, while a fetch job builds a context of its own for each page. No
// context adds to the store, and the library locks it for concurrent use.
X509_STORE* DefaultTrustStore() {
    static std::mutex lock;
    static X509_STORE* store = nullptr; // kept for the life of the process
    std::lock_guard<std::mutex> guard(lock);
    if (store)
        return store;
    X509_STORE* loaded = X509_STORE_new();
    if (!loaded || X509_STORE_set_default_paths(loaded) != 1) {
        X509_STORE_free(loaded);
        return nullptr; // a later context tries again
    }
    return store = loaded;
}

void UseDefaultTrustStore(SSL_CTX* ctx) {
    ERR_clear_error();
    X509_STORE* store = DefaultTrustStore();
    if (!store)
        throw ESslContextException(
            QStringLiteral("Error loading default CA file and/or directory"));
    SSL_CTX_set1_cert_store(ctx, store);
}

[[noreturn]] void FailFileNotFound(const QString& fileName) {
    throw ESslContextException(QStringLiteral("File not found \"") + fileName + "\"");
}

[[noreturn]] void FailFramed(const QString& what, const QString& fileName) {
    throw ESslContextException(QStringLiteral("\r\n") + what + " \"" + fileName + "\"\r\n" +
                               ErrorLines());
}

// Parses DH parameters once per distinct text: a context is built for every page,
// and parsing is a good part of its cost. Returns a new reference, or null when the
// text does not parse (the library's errors then stay queued for the report).
EVP_PKEY* SharedDHParameters(const QStringList& lines) {
    static std::mutex lock;
    // Kept for the life of the process and never destroyed: freeing library
    // objects during static destruction could follow the library's own clean-up.
    static auto& parsed = *new std::map<QStringList, EVP_PKEY*>;
    std::lock_guard<std::mutex> guard(lock);
    EVP_PKEY*& parameters = parsed[lines];
    if (!parameters) {
        const QByteArray pem = lines.join('\n').toLatin1() + '\n';
        BIO* bio = BIO_new_mem_buf(pem.constData(), static_cast<int>(pem.size()));
        parameters = bio ? PEM_read_bio_Parameters(bio, nullptr) : nullptr;
        BIO_free(bio);
    }
    if (!parameters) {
        parsed.erase(lines);
        return nullptr;
    }
    EVP_PKEY_up_ref(parameters);
    return parameters;
}

void LoadDHParameters(SSL_CTX* ctx, const QStringList& lines) {
    if (lines.isEmpty())
        return;
    EVP_PKEY* parameters = SharedDHParameters(lines);
    if (!parameters || SSL_CTX_set0_tmp_dh_pkey(ctx, parameters) != 1) {
        EVP_PKEY_free(parameters);
        throw ESslContextException(QStringLiteral("Error loading DH parameters\r\n") +
                                   ErrorLines());
    }
}

void SetVersionRange(SSL_CTX* ctx, const TSslContextSettings& settings) {
    const TSslVerMethod lowest =
        settings.SslMinVersion == sslVerMax ? sslVerSSL3 : settings.SslMinVersion;
    const int minimum = SslVersionNumber(lowest);
    const int maximum = SslVersionNumber(settings.SslMaxVersion);
    if (maximum < minimum)
        return;
    SSL_CTX_set_min_proto_version(ctx, minimum);
    SSL_CTX_set_max_proto_version(ctx, maximum);
}

void SetVerification(SSL_CTX* ctx, const TSslContextSettings& settings) {
    if (!settings.SslVerifyPeer) {
        SSL_CTX_set_verify(ctx, SSL_VERIFY_NONE, nullptr);
        SSL_CTX_set_verify_depth(ctx, 0);
        return;
    }
    int mode = 0;
    if (settings.SslVerifyPeerModes & SslVerifyMode_PEER)
        mode |= SSL_VERIFY_PEER;
    if (settings.SslVerifyPeerModes & SslVerifyMode_FAIL_IF_NO_PEER_CERT)
        mode |= SSL_VERIFY_FAIL_IF_NO_PEER_CERT;
    if (settings.SslVerifyPeerModes & SslVerifyMode_CLIENT_ONCE)
        mode |= SSL_VERIFY_CLIENT_ONCE;
    SSL_CTX_set_verify(ctx, mode, nullptr);
    SSL_CTX_set_verify_depth(ctx, settings.SslVerifyDepth);
}

void SetOptionsAndCiphers(SSL_CTX* ctx, const TSslContextSettings& settings) {
    const uint64_t wanted = settings.SslOptions | SSL_OP_IGNORE_UNEXPECTED_EOF;
    if ((SSL_CTX_set_options(ctx, wanted) & wanted) != wanted)
        throw ESslContextException(QStringLiteral("Failed to set context options"));
    if (settings.SslCipherList.isEmpty())
        throw ESslContextException(QStringLiteral("Cipher list empty"));
    ERR_clear_error();
    if (SSL_CTX_set_cipher_list(ctx, settings.SslCipherList.toLatin1().constData()) != 1)
        throw ESslContextException(QStringLiteral("Error loading cipher list\r\n") + ErrorLines());
}

} // namespace

int SslVersionNumber(TSslVerMethod version) {
    switch (version) {
    case sslVerSSL3:
        return 0x0300;
    case sslVerTLS1:
        return 0x0301;
    case sslVerTLS1_1:
        return 0x0302;
    case sslVerTLS1_2:
        return 0x0303;
    case sslVerTLS1_3:
    case sslVerMax:
        return 0x0304;
    }
    return 0x0304;
}

QStringList TSslContextSettings::DefaultDHParamLines() {
    QStringList lines;
    for (const char* line : StandardDHGroup)
        lines << QString::fromLatin1(line);
    return lines;
}

TSslContext::TSslContext() = default;

TSslContext::~TSslContext() {
    SSL_CTX_free(FContext);
    std::lock_guard<std::mutex> guard(LibraryLock);
    if (FLibraryCounted)
        --LibraryUserCount;
}

TSslContextSettings TSslContext::Settings() const {
    std::lock_guard<std::mutex> guard(FLock);
    return FSettings;
}

void TSslContext::SetSslCertFile(const QString& value) {
    std::lock_guard<std::mutex> guard(FLock);
    FSettings.SslCertFile = value;
    if (FContext && !value.isEmpty())
        LoadCertificate(FContext, value);
}

void TSslContext::SetSslPrivKeyFile(const QString& value) {
    std::lock_guard<std::mutex> guard(FLock);
    FSettings.SslPrivKeyFile = value;
    if (FContext && !value.isEmpty())
        LoadPrivateKey(FContext, FSettings);
}

#define QUORVEL_SSL_SETTER(Name, Type)                                                             \
    void TSslContext::Set##Name(Type value) {                                                      \
        std::lock_guard<std::mutex> guard(FLock);                                                  \
        FSettings.Name = value;                                                                    \
    }
QUORVEL_SSL_SETTER(SslPassPhrase, const QString&)
QUORVEL_SSL_SETTER(SslVerifyPeer, bool)
QUORVEL_SSL_SETTER(SslVersionMethod, TSslVersionMethod)
QUORVEL_SSL_SETTER(SslMinVersion, TSslVerMethod)
QUORVEL_SSL_SETTER(SslMaxVersion, TSslVerMethod)
QUORVEL_SSL_SETTER(SslCipherList, const QString&)
QUORVEL_SSL_SETTER(SslSecLevel, TSslSecLevel)
QUORVEL_SSL_SETTER(SslVerifyPeerModes, int)
QUORVEL_SSL_SETTER(SslVerifyDepth, int)
QUORVEL_SSL_SETTER(SslOptions, uint64_t)
QUORVEL_SSL_SETTER(SslDHParamLines, const QStringList&)
#undef QUORVEL_SSL_SETTER

bool TSslContext::Initialized() const {
    std::lock_guard<std::mutex> guard(FLock);
    return FContext != nullptr;
}

SSL_CTX* TSslContext::Handle() const {
    std::lock_guard<std::mutex> guard(FLock);
    return FContext;
}

int TSslContext::LibraryUsers() {
    std::lock_guard<std::mutex> guard(LibraryLock);
    return LibraryUserCount;
}

void TSslContext::InitContext() {
    LoadTlsLibrary();
    std::lock_guard<std::mutex> guard(FLock);
    if (!FContext)
        FContext = BuildContext(FSettings);
}

void TSslContext::LoadTlsLibrary() {
    std::lock_guard<std::mutex> guard(LibraryLock);
    if (FLibraryCounted)
        return;
    // The library is linked; the first user initialises it (string tables
    // included). It seeds its own generator and is never cleaned up while the
    // process runs, since it could not be initialised again.
    const uint64_t options = OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS;
    if (LibraryUserCount == 0 && OPENSSL_init_ssl(options, nullptr) != 1)
        throw ESslContextException(QStringLiteral("Unable to initialise OpenSSL"));
    ++LibraryUserCount;
    FLibraryCounted = true;
}

SSL_CTX* TSslContext::BuildContext(const TSslContextSettings& settings) {
    ERR_clear_error();
    TContextPtr ctx(SSL_CTX_new(TLS_method()));
    if (!ctx)
        throw ESslContextException(QStringLiteral("Failed to initialize context"));
    SSL_CTX_set_security_level(ctx.get(), static_cast<int>(settings.SslSecLevel));
    if (!settings.SslPrivKeyFile.isEmpty())
        LoadPrivateKey(ctx.get(), settings);
    if (!settings.SslCertFile.isEmpty())
        LoadCertificate(ctx.get(), settings.SslCertFile);
    // Without peer verification the trust store decides nothing, yet a loaded one
    // would still be searched for the server's issuers at every handshake.
    if (settings.SslVerifyPeer)
        UseDefaultTrustStore(ctx.get());
    SSL_CTX_set_mode(ctx.get(), SSL_MODE_AUTO_RETRY);
    LoadDHParameters(ctx.get(), settings.SslDHParamLines);
    SetVersionRange(ctx.get(), settings);
    SetVerification(ctx.get(), settings);
    SetOptionsAndCiphers(ctx.get(), settings);
    // No session cache mode is set: every connection makes a full handshake.
    return ctx.release();
}

void TSslContext::LoadPrivateKey(SSL_CTX* ctx, const TSslContextSettings& settings) {
    const QString& fileName = settings.SslPrivKeyFile;
    if (!QFileInfo::exists(fileName))
        FailFileNotFound(fileName);
    // Pass phrases are handed to the library as UTF-8, the program's 8-bit text.
    QByteArray passPhrase = settings.SslPassPhrase.toUtf8();
    SSL_CTX_set_default_passwd_cb(ctx, &TSslContext::PassPhraseCallback);
    SSL_CTX_set_default_passwd_cb_userdata(ctx, &passPhrase);
    ERR_clear_error();
    const int loaded =
        SSL_CTX_use_PrivateKey_file(ctx, QFile::encodeName(fileName).constData(), SSL_FILETYPE_PEM);
    // The pass phrase lives only for this call.
    SSL_CTX_set_default_passwd_cb_userdata(ctx, nullptr);
    if (loaded != 1)
        FailFramed(QStringLiteral("Can't load private key file"), fileName);
}

void TSslContext::LoadCertificate(SSL_CTX* ctx, const QString& fileName) {
    if (!QFileInfo::exists(fileName))
        FailFileNotFound(fileName);
    ERR_clear_error();
    if (SSL_CTX_use_certificate_chain_file(ctx, QFile::encodeName(fileName).constData()) != 1)
        FailFramed(QStringLiteral("Can't read certificate file"), fileName);
}

int TSslContext::PassPhraseCallback(char* buffer, int size, int, void* userdata) {
    if (!userdata)
        return 0;
    const QByteArray& passPhrase = *static_cast<const QByteArray*>(userdata);
    if (passPhrase.isEmpty() || passPhrase.size() + 1 > size)
        return 0;
    memcpy(buffer, passPhrase.constData(), static_cast<size_t>(passPhrase.size()) + 1);
    return static_cast<int>(passPhrase.size());
}
