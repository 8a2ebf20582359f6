#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <openssl/types.h>

// One TLS client session with no input or output of its own: the socket feeds it
// the bytes that came from the network, takes the bytes it wants to send, and
// asks it to handshake, encrypt, decrypt or shut down. It sits over a pair of
// memory buffers, so the library never touches the socket.
//
// Owned by one TSslWSocket, used on that socket's thread only.
class TSslEngine {
public:
    // What a step needs next.
    enum TResult { ResultDone, ResultWantInput, ResultClosed, ResultFailed };

    // A client session from `ctx`, offering `serverName` (UTF-8) in the
    // server-name extension when it is not empty and expecting it in the server's
    // certificate when the context checks that (an address literal among the
    // certificate's IP addresses, any other name among its DNS names), and resuming a session kept
    // for `server` (host and port) when the context has one. Raises ESslContextException.
    TSslEngine(SSL_CTX* ctx, const QString& serverName, const QByteArray& server = {});
    ~TSslEngine();
    TSslEngine(const TSslEngine&) = delete;
    TSslEngine& operator=(const TSslEngine&) = delete;

    // Hands network bytes to the session; returns how many it took (all of them
    // unless its buffer is full: run a step and offer the rest again).
    size_t PutInput(const char* data, size_t length);
    // Tells the session that the network delivers nothing more.
    void EndOfInput();
    // The bytes the session wants to send, taken out of it.
    QByteArray TakeOutput();

    TResult Handshake();
    // Decrypts what the input holds into `plain` (appended).
    TResult Read(QByteArray& plain);
    // Encrypts `plain` after whatever an earlier Write could not hand over yet,
    // appending the records (and any output that was waiting before them) to
    // `encrypted`. ResultWantInput: the session has to read before it takes more (the
    // server renegotiates); it keeps the rest and sends it from a later Write, which
    // may bring no new bytes at all. Nothing handed to Write is ever dropped.
    TResult Write(const QByteArray& plain, QByteArray& encrypted);
    // Bytes handed to Write that the session has not taken yet.
    qsizetype PendingWrite() const { return FUnsent.size(); }
    // Queues the close notice.
    void Shutdown();

    // After ResultFailed: the library's first queued error code, and all the
    // queued error texts (each at most 120 characters), in order.
    unsigned long FailureCode() const { return FFailureCode; }
    const QStringList& FailureTexts() const { return FFailureTexts; }
    // The outcome of the check of the server's certificate (X509_V_OK when it passed
    // or nothing was checked).
    long VerifyResult() const;

    SSL* Handle() const { return FSsl; }

private:
    TResult Outcome(int result);
    void Release();

    SSL* FSsl = nullptr;
    BIO* FNetwork = nullptr;
    QByteArray FUnsent;
    int FRetryLength = 0; // a write the library asked to repeat, with this length
    unsigned long FFailureCode = 0;
    QStringList FFailureTexts;
};
