#pragma once

#include <QObject>

#include <condition_variable>
#include <exception>
#include <functional>
#include <list>
#include <mutex>

// Runs steps of other threads on the application's main thread and lets the
// caller wait for them. The step and its outcome pass between the threads under
// this class's own lock, so nothing but a wake-up goes through the toolkit's queue.
// Lives on the main thread; created there on first use.
class TMainThreadSteps : public QObject {
    Q_OBJECT

public:
    // The one instance, made when the application object is created.
    static TMainThreadSteps& Instance();

    // From a thread other than the main thread: runs `step` there and waits for it;
    // an exception of the step is raised again here.
    void RunAndWait(const std::function<void()>& step);

private slots:
    void RunPending();

private:
    struct TRequest {
        const std::function<void()>* Step = nullptr;
        std::exception_ptr Failure;
        bool Done = false;
    };

    std::mutex FLock;
    std::condition_variable FDone;
    std::list<TRequest*> FPending;
};
