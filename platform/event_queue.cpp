#include "platform/event_queue.h"

#include <asio/post.hpp>

#include <algorithm>
#include <chrono>

TEventQueue::TEventQueue() : FContext(1), FWorkGuard(asio::make_work_guard(FContext)) {}

TEventQueue::~TEventQueue() {
    FWorkGuard.reset();
}

namespace {

thread_local std::shared_ptr<TEventQueue> ThisThreadsQueue;

const std::shared_ptr<TEventQueue>& MadeOnFirstUse() {
    if (!ThisThreadsQueue)
        ThisThreadsQueue = std::make_shared<TEventQueue>();
    return ThisThreadsQueue;
}

} // namespace

std::shared_ptr<TEventQueue> TEventQueue::SharedForThisThread() {
    return MadeOnFirstUse();
}

TEventQueue& TEventQueue::ForThisThread() {
    return *MadeOnFirstUse();
}

void TEventQueue::ReleaseForThisThread() {
    ThisThreadsQueue.reset();
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
