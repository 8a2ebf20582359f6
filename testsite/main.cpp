#include "testsite/site_server.h"

#include <QTextStream>

#include <csignal>
#include <cstdlib>
#include <cstring>

namespace {

void Usage() {
    QTextStream(stderr) << "usage: quorvel-testsite [--port N]\n"
                           "Serves the synthetic directory site over HTTPS on 127.0.0.1 and\n"
                           "prints its base URL; runs until interrupted.\n";
}

} // namespace

int main(int argc, char** argv) {
    uint16_t port = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--port") == 0 && i + 1 < argc) {
            port = uint16_t(std::atoi(argv[++i]));
        } else {
            Usage();
            return std::strcmp(argv[i], "--help") == 0 ? 0 : 2;
        }
    }
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    // Blocked before the server's thread starts, so only sigwait below receives them.
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    TSiteServer server(port);
    QTextStream(stdout) << server.BaseUrl() << Qt::endl;
    int signal = 0;
    sigwait(&stopSignals, &signal);
    return 0;
}
