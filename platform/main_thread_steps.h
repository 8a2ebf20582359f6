#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <condition_variable>
#include <exception>
#include <functional>
#include <list>
#include <mutex>

// Runs steps of other threads on the application's main thread and lets the
// caller wait for them. The step and its outcome pass between the threads under
// this class's own lock; the main thread is woken through an event descriptor that
// its event loop watches, so no object of the toolkit crosses threads.
// Lives on the main thread; made there with the application object.
class TMainThreadSteps : public QObject {
    Q_OBJECT

public:
    // The one instance, made when the application object is created.
    static TMainThreadSteps& Instance();

    TMainThreadSteps();
    ~TMainThreadSteps() override;

    // From a thread other than the main thread: runs `step` there and waits for it;
    // an exception of the step is raised again here.
    void RunAndWait(const std::function<void()>& step);

private:
    void RunPending();

    struct TRequest {
        const std::function<void()>* Step = nullptr;
        std::exception_ptr Failure;
        bool Done = false;
    };

    int FWakeFd = -1;
    QSocketNotifier* FWakeNotifier = nullptr;
    std::mutex FLock;
    std::condition_variable FDone;
    std::list<TRequest*> FPending;
};
