#include "app/window_start.h"

#include "app/main_form.h"
#include "crawl/orphan_threads.h"
#include "platform/exception.h"
#include "platform/executable_dir.h"

#include <QApplication>

#include <cstdio>
#include <unistd.h>

namespace {

const char* const NoDisplayLine =
    "quorvel-scraper: no display to open the window on; run quorvel-scraper --headless "
    "to crawl without one (see --help)\n";

// A display is there to try when the environment names one, or names the
// toolkit's platform itself (as tests do with "offscreen").
bool DisplayNamed(int argc, char** argv) {
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        if (!qEnvironmentVariableIsEmpty(name))
            return true;
    }
    const QStringList arguments = ProgramArguments(argc, argv);
    return arguments.contains(QStringLiteral("-platform")) ||
           arguments.contains(QStringLiteral("--platform"));
}

QtMessageHandler ToolkitHandler = nullptr;

// While the toolkit starts, its fatal message (a display that cannot be reached,
// no platform plugin) ends the program with the pointer to --headless instead of
// an abort. Other messages go where they always go.
void StartupMessageHandler(QtMsgType type, const QMessageLogContext& context,
                           const QString& message) {
    if (type != QtFatalMsg) {
        if (ToolkitHandler)
            ToolkitHandler(type, context, message);
        else
            std::fputs(qFormatLogMessage(type, context, message).toLocal8Bit().append('\n'),
                       stderr);
        return;
    }
    std::fputs(NoDisplayLine, stderr);
    std::fflush(stderr);
    _exit(2);
}

void PrintTo(FILE* stream, const QString& text) {
    std::fputs(text.toUtf8().constData(), stream);
}

} // namespace

TScraperSettings WindowSettings(const TWindowOptions& options) {
    TScraperSettings settings;
    settings.BaseDir = PrepareFilesDir(options.Dir);
    settings.KeepAlive = options.KeepAlive;
    settings.VerifyPeer = options.VerifyPeer;
    settings.CaFile = options.CaFile;
    return settings;
}

int RunWindow(int argc, char** argv, const TWindowOptions& options) {
    if (!options.Error.isEmpty()) {
        PrintTo(stderr, QStringLiteral("quorvel-scraper: ") + options.Error + QLatin1Char('\n') +
                            ProgramUsage());
        return 2;
    }
    if (options.Help || options.Version) {
        PrintTo(stdout, options.Help ? ProgramUsage() : ProgramVersion());
        return 0;
    }
    if (!DisplayNamed(argc, argv)) {
        std::fputs(NoDisplayLine, stderr);
        return 2;
    }
    ToolkitHandler = qInstallMessageHandler(StartupMessageHandler);
    QApplication app(argc, argv);
    qInstallMessageHandler(ToolkitHandler);
    QApplication::setApplicationName(QStringLiteral("Парсер Quorvel"));
    // Only once the window can be shown: a start that cannot show it leaves no
    // directory behind.
    TScraperSettings settings;
    try {
        settings = WindowSettings(options);
    } catch (const Exception& error) {
        PrintTo(stderr, QStringLiteral("quorvel-scraper: ") + error.Message() + QLatin1Char('\n'));
        TMessageBoxDialogs(nullptr).ShowError(error.Message());
        return 1;
    }
    TMainForm form(settings);
    form.show();
    const int status = app.exec();
    // While the window that fetch threads may report to still exists.
    ShutDownFetchThreads();
    return status;
}
