#include "platform/event_queue.h"

#include <asio/post.hpp>

#include <algorithm>
#include <chrono>

TEventQueue::TEventQueue() : FContext(1), FWorkGuard(asio::make_work_guard(FContext)) {}

TEventQueue::~TEventQueue() {
    FWorkGuard.reset();
}

std::shared_ptr<TEventQueue> TEventQueue::SharedForThisThread() {
    thread_local std::shared_ptr<TEventQueue> queue = std::make_shared<TEventQueue>();
    return queue;
}

TEventQueue& TEventQueue::ForThisThread() {
    thread_local TEventQueue* queue = SharedForThisThread().get();
    return *queue;
}

void TEventQueue::Post(std::function<void()> notice) {
    asio::post(FContext, std::move(notice));
}

bool TEventQueue::WaitForEvent(int ms) {
    // poll_one first: inside a handler it also sees the notices that handler has
    // posted, which a blocking wait would not see until the handler returns.
    if (FContext.poll_one() > 0)
        return true;
    if (ms <= 0)
        return false;
    const auto limit = std::chrono::milliseconds(std::min(ms, 1000));
    return FContext.run_one_for(limit) > 0;
}

int TEventQueue::Pump() {
    return static_cast<int>(FContext.poll());
}
