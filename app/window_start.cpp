#include "app/window_start.h"

#include "app/main_form.h"
#include "crawl/orphan_threads.h"
#include "platform/process_state.h"

#include <QApplication>

int RunWindow(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Парсер Quorvel"));
    TMainForm form;
    form.show();
    const int status = app.exec();
    // Requests of fetch threads that outlived their run end at once; those
    // threads are then joined while the window they may report to still exists.
    SetApplicationTerminating(true);
    DrainOrphanThreads();
    return status;
}
