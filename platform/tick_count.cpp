#include "platform/tick_count.h"

#include <atomic>
#include <chrono>
#include <mutex>

namespace {

std::mutex TickSourceLock;
std::function<uint32_t()> TickSource;
std::atomic<bool> TickSourceSet{false};

} // namespace

uint32_t TickCount() {
    if (TickSourceSet.load(std::memory_order_acquire)) {
        std::lock_guard<std::mutex> guard(TickSourceLock);
        if (TickSource)
            return TickSource();
    }
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

void SetTickSourceForTests(std::function<uint32_t()> source) {
    std::lock_guard<std::mutex> guard(TickSourceLock);
    TickSource = std::move(source);
    TickSourceSet.store(static_cast<bool>(TickSource), std::memory_order_release);
}
