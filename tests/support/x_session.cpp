#include "tests/support/x_session.h"

#include <QDeadlineTimer>
#include <QStandardPaths>

#include <csignal>
#include <sys/prctl.h>

namespace {

constexpr int StartLimitMs = 20000;
constexpr int StopLimitMs = 5000;
constexpr int PollMs = 50;

// The package of each program, for the failure that names a missing one.
QString Package(const QString& program) {
    if (program == QLatin1String("Xvfb"))
        return QStringLiteral("xvfb");
    return program;
}

QString FindProgram(const QString& program, QString& failure) {
    const QString path = QStandardPaths::findExecutable(program);
    if (path.isEmpty() && failure.isEmpty())
        failure = program + QStringLiteral(": not installed (scripts/setup installs ") +
                  Package(program) + QLatin1Char(')');
    return path;
}

// A child that ends with the thread that started it, whatever becomes of that thread.
std::unique_ptr<QProcess> NewChild() {
    auto process = std::make_unique<QProcess>();
    process->setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
    return process;
}

QString Hex(unsigned long window) {
    return QStringLiteral("0x") + QString::number(window, 16);
}

} // namespace

TXSession::TXSession() {
    if (StartServer())
        StartWindowManager();
}

TXSession::~TXSession() {
    Stop(FWindowManager);
    Stop(FServer);
}

// Xvfb picks a free display number itself and writes it to standard output once it
// accepts clients, so two tests (or a desktop already on :0) never meet.
bool TXSession::StartServer() {
    const QString program = FindProgram(QStringLiteral("Xvfb"), FFailure);
    if (program.isEmpty())
        return false;
    FServer = NewChild();
    FServer->start(program, {"-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
                             "-noreset"});
    QDeadlineTimer deadline(StartLimitMs);
    QByteArray output;
    while (!deadline.hasExpired()) {
        FServer->waitForReadyRead(PollMs);
        output += FServer->readAllStandardOutput();
        if (output.endsWith('\n')) {
            FDisplay = QStringLiteral(":") + QString::fromLatin1(output.trimmed());
            return true;
        }
        if (FServer->state() == QProcess::NotRunning)
            break;
    }
    FFailure = QStringLiteral("Xvfb did not start: ") +
               QString::fromLocal8Bit(FServer->readAllStandardError()).trimmed();
    Stop(FServer);
    return false;
}

// Ready once the window manager has announced itself on the root window.
bool TXSession::StartWindowManager() {
    const QString program = FindProgram(QStringLiteral("openbox"), FFailure);
    FindProgram(QStringLiteral("wmctrl"), FFailure);
    FindProgram(QStringLiteral("xdotool"), FFailure);
    if (!FFailure.isEmpty())
        return false;
    FWindowManager = NewChild();
    FWindowManager->setProcessEnvironment(Environment());
    FWindowManager->setProcessChannelMode(QProcess::MergedChannels);
    FWindowManager->start(program, {"--sm-disable"});
    QDeadlineTimer deadline(StartLimitMs);
    while (!deadline.hasExpired() && FWindowManager->state() != QProcess::NotRunning) {
        if (Tool(QStringLiteral("wmctrl"), {"-m"}).Output.contains(QLatin1String("Openbox")))
            return true;
        FWindowManager->waitForFinished(PollMs); // a polling interval, ended early by an exit
    }
    FFailure = QStringLiteral("openbox did not start on ") + FDisplay + QStringLiteral(": ") +
               QString::fromLocal8Bit(FWindowManager->readAll()).trimmed();
    return false;
}

void TXSession::Stop(std::unique_ptr<QProcess>& process) {
    if (!process)
        return;
    if (process->state() != QProcess::NotRunning) {
        process->terminate();
        if (!process->waitForFinished(StopLimitMs)) {
            process->kill();
            process->waitForFinished(StopLimitMs);
        }
    }
    process.reset();
}

QProcessEnvironment TXSession::Environment() const {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), FDisplay);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    environment.remove(QStringLiteral("XAUTHORITY"));
    return environment;
}

TXSession::TToolRun TXSession::Tool(const QString& program, const QStringList& arguments,
                                    int limitMs) const {
    TToolRun run;
    QProcess process;
    process.setProcessEnvironment(Environment());
    process.start(program, arguments);
    if (!process.waitForStarted(limitMs)) {
        run.Error = program + QStringLiteral(": ") + process.errorString();
        return run;
    }
    process.closeWriteChannel();
    if (!process.waitForFinished(limitMs)) {
        process.kill();
        process.waitForFinished(StopLimitMs);
        run.Error = program + QStringLiteral(": no end within ") + QString::number(limitMs) +
                    QStringLiteral(" ms");
        return run;
    }
    run.Output = QString::fromUtf8(process.readAllStandardOutput());
    run.Error = QString::fromUtf8(process.readAllStandardError());
    if (process.exitStatus() == QProcess::NormalExit)
        run.ExitCode = process.exitCode();
    return run;
}

QList<unsigned long> TXSession::ManagedWindows() const {
    QList<unsigned long> windows;
    const TToolRun list = Tool(QStringLiteral("wmctrl"), {"-l"});
    for (const QString& line : list.Output.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        bool ok = false;
        const unsigned long window = line.section(QLatin1Char(' '), 0, 0).toULong(&ok, 16);
        if (ok)
            windows.append(window);
    }
    return windows;
}

unsigned long TXSession::FindWindow(qint64 pid, const QString& titlePattern) const {
    const TToolRun search =
        Tool(QStringLiteral("xdotool"), {"search", "--all", "--onlyvisible", "--pid",
                                         QString::number(pid), "--name", titlePattern});
    const QList<unsigned long> managed = ManagedWindows();
    for (const QString& line : search.Output.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const unsigned long window = line.trimmed().toULong();
        if (window != 0 && managed.contains(window))
            return window;
    }
    return 0;
}

QSize TXSession::WindowSize(unsigned long window) const {
    const TToolRun geometry =
        Tool(QStringLiteral("xdotool"), {"getwindowgeometry", "--shell", QString::number(window)});
    int width = 0, height = 0;
    for (const QString& line : geometry.Output.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("WIDTH=")))
            width = line.mid(6).toInt();
        else if (line.startsWith(QLatin1String("HEIGHT=")))
            height = line.mid(7).toInt();
    }
    return geometry.Ok() ? QSize(width, height) : QSize();
}

bool TXSession::Click(unsigned long window, int x, int y) const {
    return Tool(QStringLiteral("xdotool"),
                {"mousemove", "--sync", "--window", QString::number(window), QString::number(x),
                 QString::number(y), "click", "1"})
        .Ok();
}

bool TXSession::Close(unsigned long window) const {
    return Tool(QStringLiteral("wmctrl"), {"-i", "-c", Hex(window)}).Ok();
}
