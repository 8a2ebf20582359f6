#include "fetch/ssl_context_build.h"

#include "fetch/ssl_errors.h"
#include "fetch/ssl_session_store.h"
#include "platform/c_owner.h"
#include "platform/durable_file.h"

#include <QFile>

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>

#include <cerrno>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using TContextPtr = TCOwner<SSL_CTX, SSL_CTX_free>;
using TBioPtr = TCOwner<BIO, BIO_free_all>;
using TKeyPtr = TCOwner<EVP_PKEY, EVP_PKEY_free>;
using TCertPtr = TCOwner<X509, X509_free>;

// The library's queued error texts, each line ended by CR LF.
QString ErrorLines() {
    QString lines;
    for (const QString& text : TakeSslErrorTexts())
        lines += text + QStringLiteral("\r\n");
    return lines;
}

// The library's default trust locations, loaded once and shared by every context
// of the process. Loading them parses the whole system bundle, which costs tens of
// milliseconds, and a changed key or certificate file means another build. No
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

// Parses DH parameters once per distinct text: parsing is a good part of the cost
// of a build. Returns a new reference, or null when the
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

// The client's certificate and key are a few kilobytes; nothing larger is read.
constexpr qint64 CredentialFileLimit = 1024 * 1024;
// A trust bundle holds a few hundred certificates.
constexpr qint64 CaFileLimit = 16 * 1024 * 1024;

QString TooLargeText(qint64 limit) {
    return QStringLiteral("larger than %1 MiB").arg(limit >> 20);
}

// Reads what is left of the open file, at most `limit` bytes; false, with `problem`
// saying why, on a read error or when the file holds more.
bool ReadToEnd(int fd, qint64 limit, QByteArray& bytes, QString& problem) {
    char chunk[16384];
    for (;;) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got == 0)
            return true;
        if (got < 0 && errno != EINTR) {
            problem = SystemErrorText(errno);
            return false;
        }
        if (got > 0)
            bytes.append(chunk, got);
        if (bytes.size() > limit) {
            problem = TooLargeText(limit);
            return false;
        }
    }
}

// The named file whole when it is a regular file of at most `limit` bytes; otherwise
// nothing, with `problem` saying why. Opened without blocking and judged by the open
// descriptor, so a FIFO or a device under the name cannot hold up the run, nor can a
// file swapped in after a look at the name.
std::optional<QByteArray> ReadRegularFile(const QString& name, qint64 limit, QString& problem) {
    const QByteArray path = QFile::encodeName(name);
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        problem = SystemErrorText(errno);
        return std::nullopt;
    }
    std::optional<QByteArray> bytes;
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        problem = SystemErrorText(errno);
    else if (!S_ISREG(info.st_mode))
        problem = QStringLiteral("not a regular file");
    else if (info.st_size > limit)
        problem = TooLargeText(limit);
    else
        bytes.emplace();
    if (bytes && !ReadToEnd(fd, limit, *bytes, problem))
        bytes.reset();
    ::close(fd);
    return bytes;
}

// Every job reads both files, so with the system's calls: the toolkit's file
// classes cost several times the read itself. A name that is there but is no
// regular file of sane size (a directory, a FIFO, a huge file) cannot be read, as a
// file without read permission.
TSslCredentialFile ReadCredentialFile(const QString& name) {
    TSslCredentialFile file;
    file.Name = name;
    if (name.isEmpty())
        return file;
    struct stat info {};
    file.Exists = ::stat(QFile::encodeName(name).constData(), &info) == 0;
    if (!file.Exists)
        return file;
    QString problem;
    std::optional<QByteArray> pem = ReadRegularFile(name, CredentialFileLimit, problem);
    file.Read = pem.has_value();
    file.Pem = pem.value_or(QByteArray());
    return file;
}

// Adds the PEM certificates of `pem` to `store`; their number, or -1 when one of them
// does not parse.
int AddPemCertificates(X509_STORE* store, const QByteArray& pem) {
    ERR_clear_error();
    TBioPtr source(BIO_new_mem_buf(pem.constData(), static_cast<int>(pem.size())));
    int added = 0;
    while (source) {
        TCertPtr cert(PEM_read_bio_X509_AUX(source.get(), nullptr, nullptr, nullptr));
        if (!cert)
            break;
        if (X509_STORE_add_cert(store, cert.get()) != 1)
            return -1;
        ++added;
    }
    // The end of the text shows as "no start line"; anything else is a broken block.
    const unsigned long last = ERR_peek_last_error();
    if (!source || ERR_GET_LIB(last) != ERR_LIB_PEM || ERR_GET_REASON(last) != PEM_R_NO_START_LINE)
        return -1;
    ERR_clear_error();
    return added;
}

// Adds the certificates of the CA file `name` to `store`; empty, or what is wrong.
QString AddCaFile(X509_STORE* store, const QString& name) {
    QString problem;
    const std::optional<QByteArray> pem = ReadRegularFile(name, CaFileLimit, problem);
    if (!pem)
        return problem;
    const int added = AddPemCertificates(store, *pem);
    if (added < 0)
        return QStringLiteral("a certificate in it cannot be read");
    return added == 0 ? QStringLiteral("no PEM certificate in it") : QString();
}

// The server's certificate is checked against the CA file alone when one is named,
// else against the system's trust store. Without checking, the store decides
// nothing, yet a loaded one would still be searched for the server's issuers at
// every handshake.
void UseTrustStore(SSL_CTX* ctx, const TSslContextSettings& settings) {
    if (!settings.SslVerifyPeer)
        return;
    if (settings.SslCAFile.isEmpty())
        return UseDefaultTrustStore(ctx);
    if (!AddCaFile(SSL_CTX_get_cert_store(ctx), settings.SslCAFile).isEmpty())
        FailFramed(QStringLiteral("Can't load CA file"), settings.SslCAFile);
}

TBioPtr PemSource(const TSslCredentialFile& file) {
    return TBioPtr(BIO_new_mem_buf(file.Pem.constData(), static_cast<int>(file.Pem.size())));
}

// Hands the library the pass phrase when it fits into the buffer offered (length + 1
// bytes) and is not empty; otherwise nothing.
int PassPhraseCallback(char* buffer, int size, int, void* userdata) {
    const QByteArray& passPhrase = *static_cast<const QByteArray*>(userdata);
    if (passPhrase.isEmpty() || passPhrase.size() + 1 > size)
        return 0;
    memcpy(buffer, passPhrase.constData(), static_cast<size_t>(passPhrase.size()) + 1);
    return static_cast<int>(passPhrase.size());
}

void LoadPrivateKey(SSL_CTX* ctx, const TSslContextSettings& settings,
                    const TSslCredentialFile& file) {
    if (!file.Exists)
        FailFileNotFound(file.Name);
    // Pass phrases are handed to the library as UTF-8, the program's 8-bit text.
    QByteArray passPhrase = settings.SslPassPhrase.toUtf8();
    ERR_clear_error();
    TBioPtr source = PemSource(file);
    TKeyPtr key(file.Read && source ? PEM_read_bio_PrivateKey(source.get(), nullptr,
                                                              &PassPhraseCallback, &passPhrase)
                                    : nullptr);
    if (!key || SSL_CTX_use_PrivateKey(ctx, key.get()) != 1)
        FailFramed(QStringLiteral("Can't load private key file"), file.Name);
}

// The first certificate is the client's own, the rest its chain.
bool UseCertificateChain(SSL_CTX* ctx, BIO* source) {
    TCertPtr own(PEM_read_bio_X509_AUX(source, nullptr, nullptr, nullptr));
    if (!own || SSL_CTX_use_certificate(ctx, own.get()) != 1 || SSL_CTX_clear_chain_certs(ctx) != 1)
        return false;
    while (TCertPtr next{PEM_read_bio_X509(source, nullptr, nullptr, nullptr)}) {
        if (SSL_CTX_add0_chain_cert(ctx, next.get()) != 1)
            return false;
        next.release(); // the context owns it now
    }
    // The end of the text shows as "no start line"; anything else is a broken file.
    const unsigned long last = ERR_peek_last_error();
    if (ERR_GET_LIB(last) != ERR_LIB_PEM || ERR_GET_REASON(last) != PEM_R_NO_START_LINE)
        return false;
    ERR_clear_error();
    return true;
}

void LoadCertificate(SSL_CTX* ctx, const TSslCredentialFile& file) {
    if (!file.Exists)
        FailFileNotFound(file.Name);
    ERR_clear_error();
    TBioPtr source = PemSource(file);
    if (!file.Read || !source || !UseCertificateChain(ctx, source.get()))
        FailFramed(QStringLiteral("Can't read certificate file"), file.Name);
}

} // namespace

QString CaFileProblem(const QString& name) {
    TCOwner<X509_STORE, X509_STORE_free> store(X509_STORE_new());
    return store ? AddCaFile(store.get(), name) : QStringLiteral("out of memory");
}

TSslCredentials ReadSslCredentials(const TSslContextSettings& settings) {
    return {ReadCredentialFile(settings.SslPrivKeyFile), ReadCredentialFile(settings.SslCertFile)};
}

SSL_CTX* BuildSslContext(const TSslContextSettings& settings, const TSslCredentials& credentials) {
    ERR_clear_error();
    TContextPtr ctx(SSL_CTX_new(TLS_method()));
    if (!ctx)
        throw ESslContextException(QStringLiteral("Failed to initialize context"));
    SSL_CTX_set_security_level(ctx.get(), static_cast<int>(settings.SslSecLevel));
    if (!credentials.Key.Name.isEmpty())
        LoadPrivateKey(ctx.get(), settings, credentials.Key);
    if (!credentials.Cert.Name.isEmpty())
        LoadCertificate(ctx.get(), credentials.Cert);
    UseTrustStore(ctx.get(), settings);
    SSL_CTX_set_mode(ctx.get(), SSL_MODE_AUTO_RETRY);
    LoadDHParameters(ctx.get(), settings.SslDHParamLines);
    SetVersionRange(ctx.get(), settings);
    SetVerification(ctx.get(), settings);
    SetOptionsAndCiphers(ctx.get(), settings);
    TSslSessionStore::Attach(ctx.get());
    return ctx.release();
}
