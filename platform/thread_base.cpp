#include "platform/thread_base.h"

#include "platform/main_thread_steps.h"

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
    if (!FThread.joinable())
        return;
    Terminate();
    Resume();
    WaitFor();
}

void TThreadBase::Start() {
    if (FStarted.exchange(true))
        return Resume();
    FThread = std::thread(&TThreadBase::Run, this);
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
    if (!FThread.joinable() || FThread.get_id() == std::this_thread::get_id())
        return;
    if (QCoreApplication::instance() && OnMainThread()) {
        while (!FFinished.load()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    FThread.join();
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
    try {
        Execute();
    } catch (...) {
        // Execute reports its own failures; nothing may escape a thread.
    }
    FFinished = true;
}
