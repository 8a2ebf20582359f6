#include "tests/support/event_wait.h"

#include "platform/event_queue.h"

#include <chrono>

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
