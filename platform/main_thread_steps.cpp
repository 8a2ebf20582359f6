#include "platform/main_thread_steps.h"

#include <QCoreApplication>

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace {

TMainThreadSteps* MainThreadSteps = nullptr;

// Made with the application object, on the main thread, before any other thread
// of the program exists.
void CreateMainThreadSteps() {
    MainThreadSteps = new TMainThreadSteps;
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(CreateMainThreadSteps)

TMainThreadSteps& TMainThreadSteps::Instance() {
    return *MainThreadSteps;
}

TMainThreadSteps::TMainThreadSteps() : FWakeFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    FWakeNotifier = new QSocketNotifier(FWakeFd, QSocketNotifier::Read, this);
    connect(FWakeNotifier, &QSocketNotifier::activated, this, [this] {
        uint64_t count = 0;
        [[maybe_unused]] const ssize_t n = read(FWakeFd, &count, sizeof count);
        RunPending();
    });
}

TMainThreadSteps::~TMainThreadSteps() {
    delete FWakeNotifier;
    close(FWakeFd);
}

void TMainThreadSteps::RunAndWait(const std::function<void()>& step) {
    TRequest request;
    request.Step = &step;
    std::unique_lock<std::mutex> lock(FLock);
    FPending.push_back(&request);
    lock.unlock();
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(FWakeFd, &one, sizeof one);
    lock.lock();
    FDone.wait(lock, [&] { return request.Done; });
    if (request.Failure)
        std::rethrow_exception(request.Failure);
}

void TMainThreadSteps::RunPending() {
    std::unique_lock<std::mutex> lock(FLock);
    while (!FPending.empty()) {
        TRequest* request = FPending.front();
        FPending.pop_front();
        lock.unlock();
        try {
            (*request->Step)();
        } catch (...) {
            request->Failure = std::current_exception();
        }
        lock.lock();
        request->Done = true;
        FDone.notify_all();
    }
}
