#include "testsite/generated_site.h"
#include "testsite/hostile_replies.h"
#include "testsite/nginx_server.h"
#include "testsite/site_server.h"

#include <QCoreApplication>
#include <QTextStream>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace {

const char* const UsageText =
    "usage: quorvel-testsite [--port N] [--bomb gzip|br|gzip,gzip]\n"
    "       quorvel-testsite --static DIR [--pages N]\n"
    "       quorvel-testsite --nginx DIR [--pages N] [--log-connections]\n"
    "Serves the synthetic directory site over HTTPS on 127.0.0.1 and prints its base\n"
    "URL; runs until interrupted. --bomb answers every card page with 1 GiB of zeros in\n"
    "the gzip or br coding (a few hundred kilobytes on the wire); gzip,gzip labels the\n"
    "gzip bytes with two codings, so the zeros are what the second decoder gets.\n"
    "--static writes a generated site of at least N pages (default 4800; list pages of\n"
    "about 60 KB, cards of about 40 KB) into DIR as static files and ends.\n"
    "--nginx writes that site into DIR/site and serves it with a real nginx (its files\n"
    "in DIR/nginx); prints the base URL, then the page count; runs until interrupted.\n"
    "--log-connections makes that nginx write one line per request to DIR/nginx/access.log:\n"
    "the connection's serial number, the request's number on it and the protocol.\n";

struct TOptions {
    uint16_t Port = 0;
    QString Bomb;
    QString StaticDir;
    QString NginxDir;
    bool LogConnections = false;
    int Pages = 4800;
};

// False for a usage error.
bool ParseOptions(int argc, char** argv, TOptions& options) {
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--port") == 0 && hasValue)
            options.Port = uint16_t(std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--bomb") == 0 && hasValue)
            options.Bomb = QString::fromLocal8Bit(argv[++i]);
        else if (std::strcmp(argv[i], "--static") == 0 && hasValue)
            options.StaticDir = QString::fromLocal8Bit(argv[++i]);
        else if (std::strcmp(argv[i], "--nginx") == 0 && hasValue)
            options.NginxDir = QString::fromLocal8Bit(argv[++i]);
        else if (std::strcmp(argv[i], "--log-connections") == 0)
            options.LogConnections = true;
        else if (std::strcmp(argv[i], "--pages") == 0 && hasValue)
            options.Pages = std::atoi(argv[++i]);
        else
            return false;
    }
    return options.Bomb.isEmpty() || options.Bomb == "gzip" || options.Bomb == "br" ||
           options.Bomb == "gzip,gzip";
}

// Blocked before any thread starts, so only the wait below receives them.
sigset_t BlockStopSignals() {
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    return stopSignals;
}

void WaitForStop(const sigset_t& stopSignals) {
    int signal = 0;
    sigwait(&stopSignals, &signal);
}

int ServeSynthetic(const TOptions& options) {
    const sigset_t stopSignals = BlockStopSignals();
    TSiteServer server(options.Port);
    if (!options.Bomb.isEmpty())
        server.AnswerCardsWith(BombReply(options.Bomb.toLatin1(), int64_t(1) << 30));
    QTextStream(stdout) << server.BaseUrl() << Qt::endl;
    WaitForStop(stopSignals);
    return 0;
}

int ServeWithNginx(const TOptions& options) {
    const sigset_t stopSignals = BlockStopSignals();
    const TGeneratedSite site(options.Pages);
    site.WriteTo(options.NginxDir + "/site");
    TNginxServer nginx(options.NginxDir + "/site", options.NginxDir + "/nginx",
                       {.LogConnections = options.LogConnections});
    QTextStream(stdout) << nginx.BaseUrl() << Qt::endl << site.PageCount() << Qt::endl;
    WaitForStop(stopSignals);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    TOptions options;
    if (!ParseOptions(argc, argv, options)) {
        QTextStream(stderr) << UsageText;
        return argc == 2 && std::strcmp(argv[1], "--help") == 0 ? 0 : 2;
    }
    try {
        if (!options.StaticDir.isEmpty()) {
            const TGeneratedSite site(options.Pages);
            site.WriteTo(options.StaticDir);
            QTextStream(stdout) << site.PageCount() << " pages in " << options.StaticDir
                                << Qt::endl;
            return 0;
        }
        return options.NginxDir.isEmpty() ? ServeSynthetic(options) : ServeWithNginx(options);
    } catch (const std::exception& failure) {
        QTextStream(stderr) << failure.what() << Qt::endl;
        return 1;
    }
}
