#include "fetch/ssl_engine.h"

#include "fetch/ssl_context.h"
#include "fetch/ssl_errors.h"
#include "fetch/ssl_session_store.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

namespace {

// Room in each direction of the buffer pair: more than a whole TLS record, so a
// step never stalls on a full buffer while the socket holds the rest.
constexpr size_t PairBufferSize = 64 * 1024;
constexpr int PlainChunk = 16 * 1024;

// Makes `host` the name the server's certificate must carry.
bool ExpectHost(SSL* ssl, const QByteArray& host) {
    if (X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host.constData()) == 1)
        return true;
    return SSL_set1_host(ssl, host.constData()) == 1;
}

} // namespace

TSslEngine::TSslEngine(SSL_CTX* ctx, const QString& serverName, const QByteArray& server) {
    ERR_clear_error();
    FSsl = SSL_new(ctx);
    BIO* inner = nullptr;
    if (!FSsl || BIO_new_bio_pair(&inner, PairBufferSize, &FNetwork, PairBufferSize) != 1) {
        SSL_free(FSsl);
        FSsl = nullptr;
        throw ESslContextException(QStringLiteral("Failed to create SSL session"));
    }
    SSL_set_bio(FSsl, inner, inner);
    // What a write could not hand over waits in a buffer of ours, which may move.
    SSL_set_mode(FSsl, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    if (!serverName.isEmpty()) {
        const QByteArray name = serverName.toUtf8();
        if (SSL_set_tlsext_host_name(FSsl, name.constData()) != 1 || !ExpectHost(FSsl, name)) {
            Release();
            throw ESslContextException(QStringLiteral("Unable to set TLS servername extension"));
        }
    }
    TSslSessionStore::Prepare(FSsl, server);
    SSL_set_connect_state(FSsl);
}

TSslEngine::~TSslEngine() {
    Release();
}

long TSslEngine::VerifyResult() const {
    return SSL_get_verify_result(FSsl);
}

void TSslEngine::Release() {
    SSL_free(FSsl);
    BIO_free(FNetwork);
    FSsl = nullptr;
    FNetwork = nullptr;
}

size_t TSslEngine::PutInput(const char* data, size_t length) {
    const int written = BIO_write(FNetwork, data, static_cast<int>(length));
    return written > 0 ? static_cast<size_t>(written) : 0;
}

void TSslEngine::EndOfInput() {
    BIO_shutdown_wr(FNetwork);
}

QByteArray TSslEngine::TakeOutput() {
    QByteArray output;
    while (const size_t pending = BIO_ctrl_pending(FNetwork)) {
        const qsizetype start = output.size();
        output.resize(start + static_cast<qsizetype>(pending));
        const int taken = BIO_read(FNetwork, output.data() + start, static_cast<int>(pending));
        output.resize(start + std::max(taken, 0));
        if (taken <= 0)
            break;
    }
    return output;
}

TSslEngine::TResult TSslEngine::Handshake() {
    ERR_clear_error();
    return Outcome(SSL_do_handshake(FSsl));
}

TSslEngine::TResult TSslEngine::Read(QByteArray& plain) {
    for (;;) {
        const qsizetype start = plain.size();
        plain.resize(start + PlainChunk);
        ERR_clear_error();
        const int result = SSL_read(FSsl, plain.data() + start, PlainChunk);
        plain.resize(start + std::max(result, 0));
        if (result <= 0)
            return Outcome(result);
    }
}

TSslEngine::TResult TSslEngine::Write(const QByteArray& plain, QByteArray& encrypted) {
    FUnsent += plain;
    TResult result = ResultDone;
    qsizetype done = 0;
    while (done < FUnsent.size()) {
        // One record at a time, taken out at once, so the buffer pair never fills. A
        // write the library asked to repeat is repeated with the same length.
        const int piece =
            FRetryLength > 0
                ? FRetryLength
                : static_cast<int>(std::min<qsizetype>(FUnsent.size() - done, PlainChunk));
        ERR_clear_error();
        const int written = SSL_write(FSsl, FUnsent.constData() + done, piece);
        encrypted += TakeOutput();
        if (written <= 0) {
            result = Outcome(written);
            FRetryLength = result == ResultWantInput ? piece : 0;
            break;
        }
        FRetryLength = 0;
        done += written;
    }
    FUnsent.remove(0, done);
    return result;
}

void TSslEngine::Shutdown() {
    ERR_clear_error();
    SSL_shutdown(FSsl);
    ERR_clear_error();
}

TSslEngine::TResult TSslEngine::Outcome(int result) {
    if (result > 0)
        return ResultDone;
    switch (SSL_get_error(FSsl, result)) {
    case SSL_ERROR_WANT_READ:
    case SSL_ERROR_WANT_WRITE:
        return ResultWantInput;
    case SSL_ERROR_ZERO_RETURN:
        return ResultClosed;
    case SSL_ERROR_SYSCALL:
        if (ERR_peek_error() == 0)
            return ResultClosed;
        [[fallthrough]];
    default:
        FFailureCode = ERR_peek_error();
        FFailureTexts = TakeSslErrorTexts();
        return ResultFailed;
    }
}
