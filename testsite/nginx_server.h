#pragma once

#include <QString>

#include <cstdint>
#include <memory>

class QProcess;

// A real nginx serving a directory of static pages over HTTPS on a free port of
// 127.0.0.1, configured as users meet web servers: default TLS settings, a
// self-signed certificate, gzip on also for HTTP/1.0 requests.
//
// Everything it needs lies in `workDir` (made when missing): its configuration, the
// certificate and key, its pid file, error log and temporary files. The constructor
// starts nginx and returns once it accepts connections; an nginx that cannot start
// raises std::runtime_error with nginx's own words. The destructor stops it by its
// pid file and waits for it to end, and nginx also ends when the thread that started
// it does, so no server outlives a failed test. Started as root, its workers run as
// the invoking user and group, so it serves files that only they may read. Belongs
// to the thread that made it.
//
// With an `accessLog` path, every request is written there as it ends, before its
// connection closes, as one line: the connection's serial number (one per TCP
// connection), the request's number on that connection, its protocol and the
// status, e.g. "17 1 HTTP/1.0 200". Without one, nothing is logged.
class TNginxServer {
public:
    TNginxServer(const QString& siteRoot, const QString& workDir,
                 const QString& accessLog = QString());
    ~TNginxServer();
    TNginxServer(const TNginxServer&) = delete;
    TNginxServer& operator=(const TNginxServer&) = delete;

    uint16_t Port() const { return FPort; }
    // "https://127.0.0.1:" and the port.
    QString BaseUrl() const;
    // Stops nginx now (the destructor does it otherwise).
    void Stop();

private:
    // Starts nginx on `port`; false with `failure` set when it does not come up.
    bool TryStart(uint16_t port, QString& failure);
    void WriteConfig(uint16_t port) const;
    QString AccessLogLines() const;
    QString File(const QString& name) const;
    QString FailureText() const;

    QString FSiteRoot;
    QString FWorkDir;
    QString FAccessLog;
    uint16_t FPort = 0;
    std::unique_ptr<QProcess> FProcess;
};
