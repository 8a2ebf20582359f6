#include "tests/support/event_wait.h"

#include "platform/event_queue.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <chrono>
#include <thread>

bool PumpUntil(const std::function<bool()>& done, int limitMs) {
    TEventQueue& queue = TEventQueue::ForThisThread();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        // Short slices: `done` may also depend on another thread (a server).
        if (queue.WaitForEvent(20))
            queue.Pump();
    }
    return true;
}

bool ProcessEventsUntil(const std::function<bool()>& done, int limitMs) {
    QDeadlineTimer deadline(limitMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(1)); // a polling interval
    }
    return true;
}
