#include "testsite/scripted_server.h"

#include "testsite/certificates.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace {

using TClock = std::chrono::steady_clock;
constexpr auto WaitLimit = std::chrono::seconds(20);
constexpr int PollSliceMs = 20;

// One accepted connection's byte path: the socket, and the TLS session over it
// when the server speaks TLS. Non-blocking; every wait is a short poll that also
// watches the server's stop flag and the overall limit.
class TConnectionIo {
public:
    TConnectionIo(int fd, const std::atomic<bool>& stopping)
        : FFd(fd), FStopping(stopping), FDeadline(TClock::now() + WaitLimit) {}
    ~TConnectionIo() {
        SSL_free(FSsl);
        if (FFd >= 0)
            close(FFd);
    }

    bool Accept(SSL_CTX* ctx) {
        FSsl = SSL_new(ctx);
        SSL_set_fd(FSsl, FFd);
        for (;;) {
            ERR_clear_error();
            const int result = SSL_accept(FSsl);
            if (result == 1)
                return true;
            const int error = SSL_get_error(FSsl, result);
            if ((error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) ||
                !Wait(error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT))
                return false;
        }
    }

    // Appends what arrives to `into`; false when the peer closed or time ran out.
    bool ReadSome(QByteArray& into) {
        char buffer[16384];
        for (;;) {
            const int got =
                FSsl ? SslRead(buffer, sizeof buffer) : PlainRead(buffer, sizeof buffer);
            if (got > 0) {
                into.append(buffer, got);
                return true;
            }
            if (got == 0 || !Wait(POLLIN))
                return false;
        }
    }

    bool WriteAll(const QByteArray& bytes) {
        qsizetype done = 0;
        while (done < bytes.size()) {
            const int sent = FSsl ? SslWrite(bytes.constData() + done, bytes.size() - done)
                                  : PlainWrite(bytes.constData() + done, bytes.size() - done);
            if (sent > 0)
                done += sent;
            else if (sent == 0 || !Wait(POLLOUT))
                return false;
        }
        return true;
    }

    // Ends the connection. An orderly end sends the FIN, then reads until the
    // client closes too, so bytes left unread never turn the close into a reset.
    void End(TConnectionEnd end) {
        if (end == TConnectionEnd::Reset) {
            const linger reset{1, 0};
            setsockopt(FFd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
            return;
        }
        if (end == TConnectionEnd::Close && FSsl)
            SSL_shutdown(FSsl);
        shutdown(FFd, SHUT_WR);
        char buffer[4096];
        while (true) {
            const ssize_t got = recv(FFd, buffer, sizeof buffer, 0);
            if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK) ||
                (got < 0 && !Wait(POLLIN)))
                return;
        }
    }

private:
    // > 0 bytes, 0 closed or failed, -1 try again.
    int PlainRead(char* buffer, size_t size) {
        const ssize_t got = recv(FFd, buffer, size, 0);
        if (got < 0)
            return errno == EAGAIN || errno == EWOULDBLOCK ? -1 : 0;
        return static_cast<int>(got);
    }
    int PlainWrite(const char* data, qsizetype size) {
        const ssize_t sent = send(FFd, data, static_cast<size_t>(size), MSG_NOSIGNAL);
        if (sent < 0)
            return errno == EAGAIN || errno == EWOULDBLOCK ? -1 : 0;
        return static_cast<int>(sent);
    }
    int SslRead(char* buffer, size_t size) {
        ERR_clear_error();
        const int got = SSL_read(FSsl, buffer, static_cast<int>(size));
        return got > 0 ? got : Retry(got);
    }
    int SslWrite(const char* data, qsizetype size) {
        ERR_clear_error();
        const int sent = SSL_write(FSsl, data, static_cast<int>(size));
        return sent > 0 ? sent : Retry(sent);
    }
    int Retry(int result) {
        const int error = SSL_get_error(FSsl, result);
        return error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE ? -1 : 0;
    }
    bool Wait(short events) {
        pollfd entry{FFd, events, 0};
        while (!FStopping.load() && TClock::now() < FDeadline) {
            if (poll(&entry, 1, PollSliceMs) != 0)
                return true;
        }
        return false;
    }

    int FFd;
    SSL* FSsl = nullptr;
    const std::atomic<bool>& FStopping;
    TClock::time_point FDeadline;
};

void SetNonBlocking(int fd) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

SSL_CTX* ServerContext(const TServerOptions& options) {
    const TTestCertificate certificate =
        options.Certificate.CertificatePem.isEmpty()
            ? MakeSelfSignedCertificate(options.CommonName, options.Expired)
            : options.Certificate;
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    BIO* certBio = BIO_new_mem_buf(certificate.CertificatePem.constData(), -1);
    BIO* keyBio = BIO_new_mem_buf(certificate.KeyPem.constData(), -1);
    X509* cert = PEM_read_bio_X509(certBio, nullptr, nullptr, nullptr);
    EVP_PKEY* key = PEM_read_bio_PrivateKey(keyBio, nullptr, nullptr, nullptr);
    const bool ok = ctx && cert && key && SSL_CTX_use_certificate(ctx, cert) == 1 &&
                    SSL_CTX_use_PrivateKey(ctx, key) == 1;
    X509_free(cert);
    EVP_PKEY_free(key);
    BIO_free(certBio);
    BIO_free(keyBio);
    if (!ok) {
        SSL_CTX_free(ctx);
        throw std::runtime_error("scripted server: TLS context");
    }
    if (options.MaxTlsVersion != 0)
        SSL_CTX_set_max_proto_version(ctx, options.MaxTlsVersion);
    return ctx;
}

// The end of the first request head in `bytes`, or -1.
qsizetype HeadEnd(const QByteArray& bytes) {
    const qsizetype at = bytes.indexOf("\r\n\r\n");
    return at < 0 ? -1 : at + 4;
}

// Reads what `mode` asks for into `request`, keeping bytes beyond a request head
// in `pending` for the next exchange. False when the client closed.
bool ReadForExchange(TConnectionIo& io, TReadMode mode, QByteArray& pending, QByteArray& request) {
    bool open = true;
    if (mode == TReadMode::RequestHead) {
        while (open && HeadEnd(pending) < 0)
            open = io.ReadSome(pending);
        const qsizetype end = open ? HeadEnd(pending) : pending.size();
        request = pending.left(end);
        pending.remove(0, end);
    } else if (mode == TReadMode::AnyBytes) {
        if (pending.isEmpty())
            open = io.ReadSome(pending);
        request.swap(pending);
    }
    return open;
}

bool WriteReply(TConnectionIo& io, const TExchange& exchange) {
    for (qsizetype i = 0; i < exchange.Reply.size(); ++i) {
        if (i > 0 && exchange.GapMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(exchange.GapMs));
        if (!io.WriteAll(exchange.Reply[i]))
            return false;
    }
    return true;
}

} // namespace

TConnectionScript TConnectionScript::Reply(const QByteArray& bytes, TConnectionEnd end) {
    TConnectionScript script;
    script.Exchanges.append(TExchange{TReadMode::RequestHead, {bytes}, 0});
    script.End = end;
    return script;
}

TConnectionScript TConnectionScript::Silent() {
    TConnectionScript script;
    script.Exchanges.append(TExchange{});
    script.End = TConnectionEnd::KeepOpen;
    return script;
}

TScriptedServer::TScriptedServer(TServerOptions options) : FOptions(std::move(options)) {
    // A client that goes away while the server writes must not end the test run.
    signal(SIGPIPE, SIG_IGN);
    if (FOptions.Tls) {
        FSslContext = ServerContext(FOptions);
        SSL_CTX_set_tlsext_servername_callback(FSslContext, &TScriptedServer::ServerNameCallback);
        SSL_CTX_set_tlsext_servername_arg(FSslContext, this);
    }
    FListenFd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (FListenFd < 0 || bind(FListenFd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(FListenFd, 16) != 0 ||
        getsockname(FListenFd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("scripted server: cannot listen");
    FPort = ntohs(address.sin_port);
    FAcceptThread = std::thread([this] { AcceptLoop(); });
}

TScriptedServer::~TScriptedServer() {
    FStopping = true;
    FAcceptThread.join();
    for (std::thread& thread : FConnectionThreads)
        thread.join();
    close(FListenFd);
    SSL_CTX_free(FSslContext);
}

void TScriptedServer::SetScripts(QList<TConnectionScript> scripts) {
    std::lock_guard<std::mutex> guard(FLock);
    FScripts = std::move(scripts);
}

void TScriptedServer::AcceptLoop() {
    pollfd entry{FListenFd, POLLIN, 0};
    while (!FStopping.load()) {
        if (poll(&entry, 1, PollSliceMs) <= 0)
            continue;
        const int fd = accept(FListenFd, nullptr, nullptr);
        if (fd < 0)
            continue;
        SetNonBlocking(fd);
        int index = 0;
        {
            std::lock_guard<std::mutex> guard(FLock);
            index = FConnections++;
            FReceived.append(QByteArray());
        }
        FConnectionThreads.emplace_back([this, index, fd] { Serve(index, fd); });
    }
}

TConnectionScript TScriptedServer::ScriptFor(int index) const {
    std::lock_guard<std::mutex> guard(FLock);
    if (FScripts.isEmpty()) {
        TConnectionScript script;
        script.Exchanges.append(TExchange{});
        return script;
    }
    return FScripts.value(std::min<int>(index, static_cast<int>(FScripts.size()) - 1));
}

void TScriptedServer::Serve(int index, int fd) {
    const TConnectionScript script = ScriptFor(index);
    TConnectionIo io(fd, FStopping);
    QByteArray pending;
    bool open = true;
    if (FSslContext && script.CloseDuringHandshake) {
        io.ReadSome(pending);
        io.End(TConnectionEnd::CloseWithoutNotify);
        open = false;
    } else if (FSslContext) {
        open = io.Accept(FSslContext);
        std::lock_guard<std::mutex> guard(FLock);
        FHandshakes += open ? 1 : 0;
    }
    for (qsizetype i = 0; open && i < script.Exchanges.size(); ++i) {
        QByteArray request;
        open = ReadForExchange(io, script.Exchanges[i].Read, pending, request);
        Record(index, request, true);
        open = open && WriteReply(io, script.Exchanges[i]);
    }
    if (open && script.End == TConnectionEnd::KeepOpen) {
        for (QByteArray rest; io.ReadSome(rest); rest.clear())
            Record(index, rest, false);
    } else if (open) {
        io.End(script.End);
    }
    std::lock_guard<std::mutex> guard(FLock);
    ++FFinished;
}

void TScriptedServer::Record(int index, const QByteArray& bytes, bool isRequest) {
    std::lock_guard<std::mutex> guard(FLock);
    FReceived[index].append(bytes);
    if (isRequest)
        FRequests.append(bytes);
}

int TScriptedServer::ServerNameCallback(SSL* ssl, int*, void* self) {
    auto* server = static_cast<TScriptedServer*>(self);
    const char* name = SSL_get_servername(ssl, TLSEXT_NAMETYPE_host_name);
    std::lock_guard<std::mutex> guard(server->FLock);
    server->FSniName = name ? QString::fromUtf8(name) : QString();
    return SSL_TLSEXT_ERR_OK;
}

int TScriptedServer::Connections() const {
    std::lock_guard<std::mutex> guard(FLock);
    return FConnections;
}

QList<QByteArray> TScriptedServer::Requests() const {
    std::lock_guard<std::mutex> guard(FLock);
    return FRequests;
}

QByteArray TScriptedServer::Received(int index) const {
    std::lock_guard<std::mutex> guard(FLock);
    return FReceived.value(index);
}

QString TScriptedServer::SniName() const {
    std::lock_guard<std::mutex> guard(FLock);
    return FSniName;
}

int TScriptedServer::Handshakes() const {
    std::lock_guard<std::mutex> guard(FLock);
    return FHandshakes;
}

int TScriptedServer::Finished() const {
    std::lock_guard<std::mutex> guard(FLock);
    return FFinished;
}
