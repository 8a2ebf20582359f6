#include "platform/thread_base.h"

#include "platform/event_queue.h"
#include "platform/main_thread_steps.h"
#include "platform/thread_pool.h"

#include <QCoreApplication>
#include <QThread>

#include <chrono>

namespace {

bool OnMainThread() {
    QCoreApplication* app = QCoreApplication::instance();
    return app == nullptr || QThread::currentThread() == app->thread();
}

} // namespace

TThreadBase::~TThreadBase() {
    if (!FStarted.load())
        return;
    Terminate();
    Resume();
    WaitFor();
}

void TThreadBase::Start() {
    if (FStarted.exchange(true))
        return Resume();
    try {
        TThreadPool::Instance().Run([this] { Run(); });
    } catch (...) {
        // Execute will never run: the object counts as never started, so it may be
        // released at once, and a later Start may try again.
        FStarted = false;
        throw;
    }
}

void TThreadBase::Resume() {
    if (!FStarted.load())
        return Start();
    {
        std::lock_guard<std::mutex> guard(FPauseLock);
        FPaused = false;
    }
    FPauseChanged.notify_all();
}

void TThreadBase::Suspend() {
    std::lock_guard<std::mutex> guard(FPauseLock);
    FPaused = true;
}

void TThreadBase::Terminate() {
    {
        std::lock_guard<std::mutex> guard(FPauseLock);
        FTerminated = true;
    }
    FPauseChanged.notify_all();
}

void TThreadBase::WaitFor() {
    if (!FStarted.load() || FRunner.load() == std::this_thread::get_id())
        return;
    if (QCoreApplication::instance() && OnMainThread()) {
        while (!FFinished.load()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    WaitForEnd();
}

void TThreadBase::WaitForEnd() {
    std::unique_lock<std::mutex> lock(FEndLock);
    FEndChanged.wait(lock, [this] { return FEnded; });
}

void TThreadBase::Checkpoint() {
    std::unique_lock<std::mutex> lock(FPauseLock);
    FPauseChanged.wait(lock, [this] { return !FPaused.load() || FTerminated.load(); });
}

void TThreadBase::Synchronize(const std::function<void()>& step) {
    if (OnMainThread())
        return step();
    TMainThreadSteps::Instance().RunAndWait(step);
}

void TThreadBase::Run() {
    FRunner = std::this_thread::get_id();
    try {
        Execute();
    } catch (...) {
        // Execute reports its own failures; nothing may escape a thread.
    }
    FFinished = true;
    if (FOnFinished)
        FOnFinished();
    // The next task of this OS thread starts with a queue of its own, as a new
    // thread would; the last socket of this one has gone with Execute.
    TEventQueue::ReleaseForThisThread();
    FRunner = std::thread::id();
    // The waiter may release the object as soon as it sees FEnded: nothing after
    // the unlock may touch it.
    std::lock_guard<std::mutex> guard(FEndLock);
    FEnded = true;
    FEndChanged.notify_all();
}
