#pragma once

#include "fetch/http_cli.h"

class TSslContext;

// THttpCli over TLS: its socket is a TSslWSocket, and each connection switches TLS
// on exactly for "https" URLs, with the URL's host in the server-name extension.
// SslContext is the caller's and must outlive the client. Same thread rules as
// THttpCli.
class TSslHttpCli : public THttpCli {
public:
    TSslHttpCli();

    TSslContext* SslContext = nullptr;

protected:
    void PrepareConnect() override;
    // A failed handshake becomes the request's failure text.
    void HandleSslHandshakeDone(int error);
};
