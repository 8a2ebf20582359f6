#include "platform/executable_dir.h"

#include "platform/exception.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {

const QString ProgramDirName = QStringLiteral("quorvel-scraper");

// The base directory of user data files by the XDG rules.
QString UserDataHome() {
    const QString xdg = qEnvironmentVariable("XDG_DATA_HOME");
    if (QDir::isAbsolutePath(xdg))
        return xdg;
    return QDir::homePath() + QStringLiteral("/.local/share");
}

bool IsInstalledCopy(const QString& exeDir) {
    return QFileInfo(exeDir + QStringLiteral("/../share/") + ProgramDirName).isDir();
}

} // namespace

QString ExecutableDir() {
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    // Without an application object (unit tests) the kernel still knows the path.
    return QFileInfo(QStringLiteral("/proc/self/exe"))
        .canonicalFilePath()
        .section(QLatin1Char('/'), 0, -2);
}

QString ChooseFilesDir(const QString& chosen, const QString& exeDir) {
    if (!chosen.isEmpty())
        return QDir::cleanPath(QDir::current().absoluteFilePath(chosen));
    if (QFileInfo(exeDir).isWritable() && !IsInstalledCopy(exeDir))
        return exeDir;
    return QDir::cleanPath(UserDataHome() + QLatin1Char('/') + ProgramDirName);
}

QString PrepareFilesDir(const QString& chosen) {
    const QString dir = ChooseFilesDir(chosen, ExecutableDir());
    if (!QDir().mkpath(dir))
        throw Exception(
            QStringLiteral("cannot create the directory %1 for the program's files").arg(dir));
    return dir;
}
