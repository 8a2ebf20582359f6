#include "app/headless_front_end.h"
#include "app/headless_options.h"
#include "app/window_start.h"

#include <QStringList>

int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    if (WantsHeadless(arguments))
        return RunHeadless(argc, argv);
    return RunWindow(argc, argv);
}
