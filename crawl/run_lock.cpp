#include "crawl/run_lock.h"

#include "platform/durable_file.h"
#include "platform/file_lock.h"

namespace {

QString BusyMessage(const TRunFiles& files, const TFileLock::THolder& holder) {
    if (holder.OtherOwner)
        return QStringLiteral("В каталоге %1 нельзя начать работу: файл блокировки %2 принадлежит "
                              "другому пользователю (%3). Если в каталоге никто не работает, "
                              "удалите этот файл.")
            .arg(files.BaseDir(), files.Lock(), holder.Owner);
    const QString who = holder.Pid > 0
                            ? QStringLiteral("процесс %1 (%2)").arg(holder.Pid).arg(holder.Program)
                            : QStringLiteral("другой процесс");
    return QStringLiteral("В каталоге %1 уже идёт работа: её ведёт %2 пользователя %3. Дождитесь "
                          "её окончания или остановите её; если в каталоге никто не работает, "
                          "удалите файл %4.")
        .arg(files.BaseDir(), who, holder.Owner, files.Lock());
}

// What a process that ended between writing a list and renaming it left behind:
// under the lock no other run is writing them.
void RemoveListTemporaries(const TRunFiles& files) {
    for (const QString& path :
         {files.Lists(), files.AllKnown(), files.Rubrics(), files.Failed(), files.Journal()})
        RemoveStaleTemporaries(path);
}

} // namespace

std::unique_ptr<TFileLock> LockRunDir(const TRunFiles& files) {
    auto lock = std::make_unique<TFileLock>();
    if (!lock->TryLock(files.Lock()))
        throw ERunDirBusy(BusyMessage(files, lock->OtherHolder()));
    RemoveListTemporaries(files);
    return lock;
}
