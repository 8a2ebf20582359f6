#include "crawl/run_lock.h"

#include "platform/file_lock.h"

std::unique_ptr<TFileLock> LockRunDir(const TRunFiles& files) {
    auto lock = std::make_unique<TFileLock>();
    if (lock->TryLock(files.Lock()))
        return lock;
    const TFileLock::THolder& holder = lock->OtherHolder();
    const QString who = holder.Pid > 0
                            ? QStringLiteral("процесс %1 (%2)").arg(holder.Pid).arg(holder.Program)
                            : QStringLiteral("другой процесс");
    throw ERunDirBusy(QStringLiteral("В каталоге %1 уже идёт работа: её ведёт %2. Дождитесь её "
                                     "окончания или остановите её.")
                          .arg(files.BaseDir(), who));
}
