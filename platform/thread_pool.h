#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

// The operating-system threads that the system's threads run on.
//
// A crawl starts a fetch thread for every page, hundreds a second on a near site.
// Making and ending an OS thread each time (its stack mapped, touched and given
// back, the TLS library's per-thread random generators seeded anew) cost more
// than a page's own work, so an OS thread whose task has ended is parked here and
// given the next one. A task runs whole on one OS thread; what a task leaves in
// its thread's own storage is its owner's to clear (TThreadBase does).
//
// Thread-safe. The pool is made on first use and never destroyed: a parked thread
// holds nothing but its place in the queue, and the end of the process ends it
// without running its thread-exit steps after the libraries have been cleaned up.
class TThreadPool {
public:
    static TThreadPool& Instance();
    TThreadPool(const TThreadPool&) = delete;
    TThreadPool& operator=(const TThreadPool&) = delete;

    // Runs `task` on a parked thread, or on a new one when every thread is busy.
    // When no new thread can be made, the failure is raised and the task never runs.
    void Run(std::function<void()> task);

private:
    TThreadPool() = default;
    ~TThreadPool() = default;
    void Serve();

    std::mutex FLock;
    std::condition_variable FWork;
    std::deque<std::function<void()>> FTasks;
    size_t FWaiting = 0;
};
