#include "testsite/nginx_server.h"

#include "testsite/certificates.h"
#include "testsite/loopback.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <csignal>
#include <grp.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <stdexcept>

namespace {

constexpr int StartAttempts = 5;
constexpr int StartLimitMs = 15000;
constexpr int StopLimitMs = 10000;

QString Quoted(const QString& path) {
    return u'"' + path + u'"';
}

QString NginxProgram() {
    QString program = QStandardPaths::findExecutable(QStringLiteral("nginx"));
    if (program.isEmpty())
        program = QStandardPaths::findExecutable(
            QStringLiteral("nginx"),
            {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin")});
    if (program.isEmpty())
        throw std::runtime_error("nginx: not installed (scripts/setup installs nginx-light)");
    return program;
}

// Workers of an nginx started by root run as nobody unless told otherwise, and may
// not be able to read a checkout; they run as whoever started it instead.
QString UserLine() {
    if (geteuid() != 0)
        return {};
    const passwd* user = getpwuid(geteuid());
    const group* grp = getgrgid(getegid());
    if (!user || !grp)
        return {};
    return QStringLiteral("user %1 %2;\n")
        .arg(QString::fromLocal8Bit(user->pw_name), QString::fromLocal8Bit(grp->gr_name));
}

} // namespace

TNginxServer::TNginxServer(const QString& siteRoot, const QString& workDir,
                           const QString& accessLog)
    : FSiteRoot(QDir(siteRoot).absolutePath()), FWorkDir(QDir(workDir).absolutePath()),
      FAccessLog(accessLog.isEmpty() ? QString() : QFileInfo(accessLog).absoluteFilePath()) {
    if (!QDir().mkpath(File(QStringLiteral("tmp"))))
        throw std::runtime_error("nginx: cannot make " + FWorkDir.toStdString());
    WriteSelfSignedPem(File(QStringLiteral("cert.pem")), File(QStringLiteral("key.pem")));
    QString failure;
    for (int attempt = 0; attempt < StartAttempts; ++attempt) {
        if (TryStart(FreeLoopbackPort(), failure))
            return;
        // Only a port taken meanwhile by someone else is worth another try.
        if (!failure.contains(QStringLiteral("Address already in use")))
            break;
    }
    throw std::runtime_error("nginx did not start: " + failure.toStdString());
}

TNginxServer::~TNginxServer() {
    Stop();
}

QString TNginxServer::BaseUrl() const {
    return QStringLiteral("https://127.0.0.1:") + QString::number(FPort);
}

QString TNginxServer::File(const QString& name) const {
    return FWorkDir + u'/' + name;
}

void TNginxServer::WriteConfig(uint16_t port) const {
    QString config =
        QStringLiteral("daemon off;\nworker_processes 1;\n") + UserLine() +
        QStringLiteral("pid %1;\nlock_file %2;\nerror_log %3 warn;\n")
            .arg(Quoted(File("nginx.pid")), Quoted(File("nginx.lock")), Quoted(File("error.log")));
    config += QStringLiteral("events { worker_connections 512; }\nhttp {\n") + AccessLogLines() +
              QStringLiteral("    types { text/html html; }\n"
                             "    default_type application/octet-stream;\n");
    for (const char* kind : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
        config += QStringLiteral("    %1_temp_path %2;\n")
                      .arg(QString::fromLatin1(kind), Quoted(File(QStringLiteral("tmp/") + kind)));
    config += QStringLiteral("    gzip on;\n    gzip_http_version 1.0;\n    server {\n"
                             "        listen 127.0.0.1:%1 ssl;\n"
                             "        ssl_certificate %2;\n        ssl_certificate_key %3;\n"
                             "        root %4;\n        index index.html;\n    }\n}\n")
                  .arg(QString::number(port), Quoted(File("cert.pem")), Quoted(File("key.pem")),
                       Quoted(FSiteRoot));
    QFile file(File(QStringLiteral("nginx.conf")));
    const QByteArray bytes = config.toUtf8();
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        throw std::runtime_error("nginx: cannot write " + file.fileName().toStdString());
}

// Unbuffered, so a request is in the file before its connection closes.
QString TNginxServer::AccessLogLines() const {
    if (FAccessLog.isEmpty())
        return QStringLiteral("    access_log off;\n");
    return QStringLiteral("    log_format connections "
                          "'$connection $connection_requests $server_protocol $status';\n"
                          "    access_log %1 connections;\n")
        .arg(Quoted(FAccessLog));
}

bool TNginxServer::TryStart(uint16_t port, QString& failure) {
    WriteConfig(port);
    QFile::remove(File(QStringLiteral("error.log")));
    QFile::remove(File(QStringLiteral("nginx.pid")));
    FProcess = std::make_unique<QProcess>();
    FProcess->setProcessChannelMode(QProcess::MergedChannels);
    // Ends with the thread that started it, whatever becomes of that thread.
    FProcess->setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
    FProcess->start(NginxProgram(),
                    {"-p", FWorkDir, "-c", File("nginx.conf"), "-e", File("error.log")});
    QDeadlineTimer deadline(StartLimitMs);
    while (FProcess->state() != QProcess::NotRunning && !deadline.hasExpired()) {
        if (LoopbackAccepts(port)) {
            FPort = port;
            return true;
        }
        FProcess->waitForFinished(20); // a polling interval, ended early by an exit
    }
    failure = FailureText();
    Stop();
    return false;
}

QString TNginxServer::FailureText() const {
    QFile log(File(QStringLiteral("error.log")));
    const QString logged =
        log.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(log.readAll()) : QString();
    const QString output = QString::fromLocal8Bit(FProcess->readAll());
    return (output + logged).trimmed().isEmpty() ? QStringLiteral("no answer within 15 s")
                                                 : (output + logged).trimmed();
}

// By the pid nginx wrote: the master then ends its workers before it ends itself.
void TNginxServer::Stop() {
    if (!FProcess)
        return;
    QFile pidFile(File(QStringLiteral("nginx.pid")));
    const pid_t pid =
        pidFile.open(QIODevice::ReadOnly) ? pid_t(pidFile.readAll().trimmed().toLong()) : 0;
    // Run with "daemon off", the master is the process started here; a pid file that
    // names another process is not ours to act on.
    if (pid > 0 && pid == FProcess->processId())
        ::kill(pid, SIGTERM);
    else
        FProcess->terminate();
    if (!FProcess->waitForFinished(StopLimitMs)) {
        FProcess->kill();
        FProcess->waitForFinished(StopLimitMs);
    }
    FProcess.reset();
    QFile::remove(File(QStringLiteral("nginx.pid")));
}
