#pragma once

#include "fetch/http_cli.h"

#include <memory>

class TConnectionPool;
class TSslContext;

// THttpCli over TLS: its socket is a TSslWSocket, and each connection switches TLS
// on exactly for "https" URLs, with the URL's host in the server-name extension.
// SslContext is the caller's and must outlive the client. Same thread rules as
// THttpCli.
class TSslHttpCli : public THttpCli {
public:
    TSslHttpCli();

    TSslContext* SslContext = nullptr;
    // Set: a connection left open by a response goes back here (KeepConnection),
    // and a request to a place the pool has a connection to takes that one.
    std::shared_ptr<TConnectionPool> Connections;

    // Puts the connection back into Connections when the last response ended
    // whole and the server keeps the connection open; otherwise it stays.
    void KeepConnection();

protected:
    void PrepareConnect() override;
    bool AdoptIdleConnection() override;
    // A failed handshake becomes the request's failure text.
    void HandleSslHandshakeDone(int error);

private:
    // The pool's key for a connection to `protocol`, `host` and `port` made with this
    // client's TLS context; empty when that context cannot be had.
    QString PoolKey(const QString& protocol, const QString& host, const QString& port) const;
};
