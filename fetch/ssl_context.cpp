#include "fetch/ssl_context.h"

#include "fetch/ssl_context_build.h"

#include <openssl/ssl.h>

#include <list>

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

// Library contexts built so far, newest first, each with everything it was built
// from: the settings and the bytes of the key and certificate files, compared
// whole. A job reads both files again and is given the context built from the same
// bytes, so the pass-phrase decryption and the parsing run once per distinct
// content, while a changed file gives a new build (and a missing or broken one the
// same failure as ever; failures are not kept). Kept for the life of the process.
struct TBuiltContext {
    TSslContextSettings Settings;
    TSslCredentials Credentials;
    SSL_CTX* Context;
};
std::mutex BuiltLock;
auto& Built = *new std::list<TBuiltContext>;
constexpr size_t BuiltKept = 8;

// A reference to the context for these settings and the files as they are now.
SSL_CTX* SharedLibraryContext(const TSslContextSettings& settings) {
    TSslCredentials credentials = ReadSslCredentials(settings);
    std::lock_guard<std::mutex> guard(BuiltLock);
    for (auto it = Built.begin(); it != Built.end(); ++it) {
        if (it->Settings != settings || it->Credentials != credentials)
            continue;
        Built.splice(Built.begin(), Built, it);
        SSL_CTX_up_ref(it->Context);
        return it->Context;
    }
    SSL_CTX* built = BuildSslContext(settings, credentials);
    Built.push_front({settings, std::move(credentials), built});
    if (Built.size() > BuiltKept) {
        SSL_CTX_free(Built.back().Context);
        Built.pop_back();
    }
    SSL_CTX_up_ref(built);
    return built;
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
        Rebuild();
}

void TSslContext::SetSslPrivKeyFile(const QString& value) {
    std::lock_guard<std::mutex> guard(FLock);
    FSettings.SslPrivKeyFile = value;
    if (FContext && !value.isEmpty())
        Rebuild();
}

// Built contexts are shared, so a file named later means another context rather
// than a change to the one in use; a failure keeps the one in use.
void TSslContext::Rebuild() {
    SSL_CTX* rebuilt = SharedLibraryContext(FSettings);
    SSL_CTX_free(FContext);
    FContext = rebuilt;
}

#define QUORVEL_SSL_SETTER(Name, Type)                                                             \
    void TSslContext::Set##Name(Type value) {                                                      \
        std::lock_guard<std::mutex> guard(FLock);                                                  \
        FSettings.Name = value;                                                                    \
    }
QUORVEL_SSL_SETTER(SslPassPhrase, const QString&)
QUORVEL_SSL_SETTER(SslVerifyPeer, bool)
QUORVEL_SSL_SETTER(SslCAFile, const QString&)
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
        FContext = SharedLibraryContext(FSettings);
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
