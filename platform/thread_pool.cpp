#include "platform/thread_pool.h"

#include <thread>

TThreadPool& TThreadPool::Instance() {
    static TThreadPool& pool = *new TThreadPool;
    return pool;
}

void TThreadPool::Run(std::function<void()> task) {
    std::lock_guard<std::mutex> guard(FLock);
    FTasks.push_back(std::move(task));
    // Every queued task needs a waiting thread of its own; a woken thread counts
    // as waiting until it has taken a task.
    if (FWaiting >= FTasks.size()) {
        FWork.notify_one();
        return;
    }
    try {
        std::thread(&TThreadPool::Serve, this).detach();
    } catch (...) {
        // No thread will ever take this task: it leaves the queue with the failure,
        // so its owner may release what the task points to.
        FTasks.pop_back();
        throw;
    }
}

void TThreadPool::Serve() {
    std::unique_lock<std::mutex> lock(FLock);
    for (;;) {
        ++FWaiting;
        FWork.wait(lock, [this] { return !FTasks.empty(); });
        --FWaiting;
        std::function<void()> task = std::move(FTasks.front());
        FTasks.pop_front();
        lock.unlock();
        task();
        task = nullptr; // whatever the task holds is released before the thread parks
        lock.lock();
    }
}
