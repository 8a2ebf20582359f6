#pragma once

#include "testsite/site_model.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>

// The synthetic site served over HTTPS on 127.0.0.1.
//
// A small HTTP/1.0 server: it reads a request head, answers one response (the
// page, gzip- or br-compressed when the page is made so and the request accepts
// it) and closes the connection. It owns one thread that runs every connection;
// the other members may be called from any thread. Tests can hold back the
// responses to chosen paths and release them later, or make them fail.
class TSiteServer {
public:
    // `port` 0 lets the system choose.
    explicit TSiteServer(uint16_t port = 0);
    ~TSiteServer();
    TSiteServer(const TSiteServer&) = delete;
    TSiteServer& operator=(const TSiteServer&) = delete;

    uint16_t Port() const;
    QString BaseUrl() const;
    const TSiteModel& Model() const;

    // Paths of the requests read so far, in arrival order.
    QStringList Requests() const;
    // From now on, responses to paths for which `hold` is true wait for ReleaseHeld.
    void HoldWhen(std::function<bool(const QString& path)> hold);
    // Sends every held response and holds nothing more.
    void ReleaseHeld();
    // Paths whose responses are held now.
    QStringList HeldPaths() const;
    // From now on, requests for paths for which `fail` is true are answered with
    // "503 Service Unavailable", as a site that is down; an empty function ends that.
    void FailWhen(std::function<bool(const QString& path)> fail);
    // From now on every card page (a path under "/firm/") is answered with `response`
    // (status line, header and body) instead: a hostile site, for measuring what
    // such answers cost the crawl.
    void AnswerCardsWith(const QByteArray& response);

private:
    class TImpl;
    std::unique_ptr<TImpl> FImpl;
};
