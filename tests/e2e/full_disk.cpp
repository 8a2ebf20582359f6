#include "full_disk.h"

#include <QFile>
#include <QFileInfo>

#include <stdexcept>
#include <sys/mount.h>
#include <unistd.h>

namespace {

// Room left by Fill for the injected fault: less than any row of the data file.
constexpr int InjectedRoom = 40;

QString BallastPath(const QString& dir) {
    return dir + "/ballast";
}

} // namespace

TFullDisk::TFullDisk(TKind wanted) : FKind(wanted) {}

TFullDisk::~TFullDisk() {
    if (!FMounted)
        return;
    ::umount2(QFile::encodeName(FDir).constData(), MNT_DETACH);
    ::rmdir(QFile::encodeName(FDir).constData());
}

void TFullDisk::Prepare(const QString& dir) {
    FDir = QFileInfo(dir).canonicalFilePath();
    if (FKind == TKind::Tmpfs)
        Mount(FDir);
}

// Room for the program, its files and a little more; the rest is filled on demand.
void TFullDisk::Mount(const QString& dir) {
    const qint64 size = QFileInfo(QUORVEL_SCRAPER_PATH).size() + 16 * 1024 * 1024;
    const QByteArray options = "size=" + QByteArray::number(size);
    if (::mount("tmpfs", QFile::encodeName(dir).constData(), "tmpfs", 0, options.constData()) == 0)
        FMounted = true;
    else
        FKind = TKind::Injected;
}

QMap<QString, QString> TFullDisk::Environment() const {
    if (FKind == TKind::Tmpfs)
        return {};
    const QString asan = qEnvironmentVariable("ASAN_OPTIONS");
    return {{"LD_PRELOAD", QUORVEL_FULL_DISK_SHIM},
            {"QUORVEL_FULL_DISK_DIR", FDir},
            {"QUORVEL_FULL_DISK_CONTROL", FControlDir.filePath("room")},
            // The shim comes ahead of the sanitizer's runtime, which then must not object.
            {"ASAN_OPTIONS", asan + (asan.isEmpty() ? "" : ":") + "verify_asan_link_order=0"}};
}

QString TFullDisk::Description() const {
    return FKind == TKind::Tmpfs ? "a tmpfs mounted on the program's directory, filled up"
                                 : "a full disk injected below the program's writers";
}

void TFullDisk::Fill() {
    if (FKind == TKind::Injected) {
        QFile control(FControlDir.filePath("room"));
        if (!control.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            control.write(QByteArray::number(InjectedRoom)) <= 0)
            throw std::runtime_error("cannot write the full disk's control file");
        return;
    }
    QFile ballast(BallastPath(FDir));
    if (!ballast.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        throw std::runtime_error("cannot create the ballast");
    const QByteArray chunk(4096, 'x');
    while (ballast.write(chunk) == chunk.size()) {
    }
}

void TFullDisk::Free() {
    QFile::remove(FKind == TKind::Injected ? FControlDir.filePath("room") : BallastPath(FDir));
}
