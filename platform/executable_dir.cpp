#include "platform/executable_dir.h"

#include <QCoreApplication>
#include <QFileInfo>

QString ExecutableDir() {
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    // Without an application object (unit tests) the kernel still knows the path.
    return QFileInfo(QStringLiteral("/proc/self/exe"))
        .canonicalFilePath()
        .section(QLatin1Char('/'), 0, -2);
}
