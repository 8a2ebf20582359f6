#pragma once

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>

#include <functional>
#include <memory>

// The event queue of one thread: every socket event and every notice that a
// component posts to itself is handled here, one at a time, on the thread that
// waits and pumps.
//
// Owns an asio::io_context (concurrency hint 1) kept alive by a work guard, so a
// wait never ends just because nothing is outstanding. Each thread has exactly
// one queue, made on first use by ForThisThread(); every socket and client of that
// thread shares it. The queue belongs to its thread: only Post may be called from
// elsewhere.
//
// The wait-and-pump loop of a synchronous request:
//     TEventQueue& queue = TEventQueue::ForThisThread();
//     while (!done) {
//         if (queue.WaitForEvent(1000))   // sleeps until something is handled, <= 1 s
//             queue.Pump();               // then everything else that is pending
//         ...check the time-out...
//     }
class TEventQueue {
public:
    TEventQueue();
    ~TEventQueue();
    TEventQueue(const TEventQueue&) = delete;
    TEventQueue& operator=(const TEventQueue&) = delete;

    // The queue of the calling thread, created on first use and released when the
    // thread ends (or, for holders of SharedForThisThread, when the last holder goes).
    static TEventQueue& ForThisThread();
    // The same queue, shared: a socket keeps its thread's queue alive for as long as
    // it has operations on it.
    static std::shared_ptr<TEventQueue> SharedForThisThread();
    // Lets go of the calling thread's queue, as the thread's end would: an OS
    // thread that goes on to other work starts that work with a new queue.
    static void ReleaseForThisThread();

    // Queues a notice; it is handled after the event being handled now, in posting
    // order. Safe from any thread.
    void Post(std::function<void()> notice);

    // Waits until an event can be handled, at most `ms` milliseconds (capped at
    // 1000; 0 or less only looks), and handles that one event. Returns whether an
    // event was handled; false means the time ran out with nothing to do.
    bool WaitForEvent(int ms);

    // Handles every pending event, including notices posted meanwhile, without
    // blocking. Returns the number of events handled. May be called from inside an
    // event handler (nested pumps keep the posting order).
    int Pump();

    asio::io_context& Context() { return FContext; }

private:
    asio::io_context FContext;
    asio::executor_work_guard<asio::io_context::executor_type> FWorkGuard;
};
