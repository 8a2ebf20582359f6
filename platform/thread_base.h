#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// Base of the system's threads (the crawl controller and the fetch threads).
//
// A thread is created suspended and runs Execute once started. Terminate sets a
// stop request that Execute polls; Suspend asks the thread to pause at its next
// Checkpoint (a step boundary, never while it holds a lock) until Resume.
// Synchronize runs a step on the application's main thread and waits for it.
// The destructor asks a running thread to stop and waits for its end, so no
// thread is ever left running on a released object. Execute runs on an OS thread
// of TThreadPool; when it returns, that OS thread's event queue is released, as
// the end of a thread of its own would have released it.
class TThreadBase {
public:
    TThreadBase() = default;
    virtual ~TThreadBase();
    TThreadBase(const TThreadBase&) = delete;
    TThreadBase& operator=(const TThreadBase&) = delete;

    // Starts the thread the first time; later calls end a pause. Raises when no OS
    // thread can be had; the thread then stays unstarted.
    void Start();
    void Resume();
    void Suspend();
    void Terminate();

    bool Terminated() const { return FTerminated.load(); }
    bool Finished() const { return FFinished.load(); }
    // True from Suspend until Resume, whether or not the thread has reached its checkpoint yet.
    bool Paused() const { return FPaused.load(); }
    bool Started() const { return FStarted.load(); }

    // Set before Start: called on the thread itself once Finished() is true, so a
    // waiter can be told of the end instead of asking for it. It must not touch the
    // object: the owner may release it as soon as it hears.
    void SetOnFinished(std::function<void()> onFinished) { FOnFinished = std::move(onFinished); }

    // Waits until Execute has returned and its thread's event queue is released.
    // On the main thread it keeps handling the application's events meanwhile, so
    // a thread inside Synchronize can finish. From Execute itself it returns at once.
    void WaitFor();

protected:
    virtual void Execute() = 0;

    // Blocks while a pause is requested; returns at once on a stop request.
    void Checkpoint();
    // Runs `step` on the main thread and waits; an exception of the step is raised here.
    void Synchronize(const std::function<void()>& step);

private:
    void Run();
    void WaitForEnd();

    std::function<void()> FOnFinished;
    std::atomic<std::thread::id> FRunner{}; // the OS thread inside Run, while it is there
    std::atomic<bool> FStarted{false};
    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FFinished{false};
    std::atomic<bool> FPaused{false};
    std::mutex FPauseLock;
    std::condition_variable FPauseChanged;
    std::mutex FEndLock;
    std::condition_variable FEndChanged;
    bool FEnded = false; // guarded by FEndLock: Run has let go of the object
};
