#include "app/headless_front_end.h"
#include "app/headless_options.h"

#include <QCoreApplication>
#include <QStringList>
#include <QTextStream>

int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    if (WantsHeadless(arguments))
        return RunHeadless(argc, argv);
    QCoreApplication app(argc, argv);
    QTextStream(stdout) << "quorvel-scraper: the window comes next; use --headless.\n";
    return 0;
}
