#include "platform/executable_dir.h"

#include "platform/exception.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

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

// Creates `dir` and each missing directory above it readable by the user alone,
// as the user data directory's rules ask: it holds one user's run state.
bool MakePrivatePath(const QString& dir) {
    if (QFileInfo(dir).isDir())
        return true;
    const QString parent = QFileInfo(dir).path();
    if (parent != dir && !MakePrivatePath(parent))
        return false;
    return ::mkdir(QFile::encodeName(dir).constData(), 0700) == 0 || QFileInfo(dir).isDir();
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

QString PrepareFilesDir(const QString& chosen, const QString& exeDir) {
    const QString dir = ChooseFilesDir(chosen, exeDir);
    const bool userDataDir = chosen.isEmpty() && dir != exeDir;
    if (!(userDataDir ? MakePrivatePath(dir) : QDir().mkpath(dir)))
        throw Exception(
            QStringLiteral("cannot create the directory %1 for the program's files").arg(dir));
    return dir;
}
