#include "crawl/orphan_threads.h"

#include "fetch/scraping_thread.h"
#include "platform/process_state.h"

#include <vector>

namespace {

std::mutex KeeperLock; // held for a whole reap or drain, so the two never share a thread
std::vector<std::shared_ptr<TRunLists>> Orphans;

// Takes every thread out of the run's lists: the running ones only when `all`.
QList<TScrapingThread*> TakeThreads(TRunLists& lists, bool all) {
    std::lock_guard<std::mutex> guard(lists.ListLock);
    QList<TScrapingThread*> taken = lists.FinishedList;
    lists.FinishedList.clear();
    if (all) {
        taken += lists.RunningList;
        lists.RunningList.clear();
    }
    return taken;
}

bool RunIsEmpty(TRunLists& lists) {
    std::lock_guard<std::mutex> guard(lists.ListLock);
    return lists.RunningList.isEmpty() && lists.FinishedList.isEmpty();
}

void JoinAndDelete(const QList<TScrapingThread*>& threads) {
    for (TScrapingThread* thread : threads)
        thread->Terminate();
    for (TScrapingThread* thread : threads) {
        thread->WaitFor();
        delete thread;
    }
}

} // namespace

void AdoptOrphanThreads(std::shared_ptr<TRunLists> lists) {
    std::lock_guard<std::mutex> guard(KeeperLock);
    Orphans.push_back(std::move(lists));
}

void ReapFinishedOrphans() {
    std::lock_guard<std::mutex> guard(KeeperLock);
    for (const std::shared_ptr<TRunLists>& lists : Orphans)
        JoinAndDelete(TakeThreads(*lists, false));
    std::erase_if(Orphans,
                  [](const std::shared_ptr<TRunLists>& lists) { return RunIsEmpty(*lists); });
}

void DrainOrphanThreads() {
    std::lock_guard<std::mutex> guard(KeeperLock);
    for (const std::shared_ptr<TRunLists>& lists : Orphans) {
        QList<TScrapingThread*> threads;
        {
            std::lock_guard<std::mutex> listGuard(lists->ListLock);
            threads = lists->RunningList + lists->FinishedList;
        }
        for (TScrapingThread* thread : threads)
            thread->Terminate();
        // Waiting first lets each running thread hand itself over under the lock
        // before the lists are emptied and the threads deleted.
        for (TScrapingThread* thread : threads)
            thread->WaitFor();
        qDeleteAll(TakeThreads(*lists, true));
    }
    Orphans.clear();
}

void ShutDownFetchThreads() {
    SetApplicationTerminating(true);
    DrainOrphanThreads();
}

int OrphanThreadCount() {
    std::lock_guard<std::mutex> guard(KeeperLock);
    int count = 0;
    for (const std::shared_ptr<TRunLists>& lists : Orphans) {
        std::lock_guard<std::mutex> listGuard(lists->ListLock);
        count += static_cast<int>(lists->RunningList.size() + lists->FinishedList.size());
    }
    return count;
}
