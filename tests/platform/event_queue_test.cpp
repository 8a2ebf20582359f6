#include "platform/event_queue.h"

#include <gtest/gtest.h>

#include <asio/steady_timer.hpp>

#include <chrono>
#include <thread>
#include <vector>

namespace {

TEST(EventQueueTest, NoticesRunInPostingOrderAfterTheCurrentEvent) {
    TEventQueue queue;
    std::vector<int> order;
    queue.Post([&] {
        order.push_back(1);
        queue.Post([&] { order.push_back(4); });
        queue.Post([&] { order.push_back(5); });
        order.push_back(2);
    });
    queue.Post([&] { order.push_back(3); });
    EXPECT_EQ(queue.Pump(), 4);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4, 5}));
}

TEST(EventQueueTest, PumpWithNothingPendingReturnsAtOnce) {
    TEventQueue queue;
    EXPECT_EQ(queue.Pump(), 0);
    EXPECT_FALSE(queue.WaitForEvent(0));
}

TEST(EventQueueTest, WaitEndsWithTheEventThatArrives) {
    TEventQueue queue;
    bool handled = false;
    // A timer stands for a network event that becomes ready while the thread waits.
    asio::steady_timer timer(queue.Context(), std::chrono::milliseconds(20));
    timer.async_wait([&](const std::error_code&) { handled = true; });
    bool woke = false;
    for (int i = 0; i < 10 && !handled; ++i)
        woke = queue.WaitForEvent(1000);
    EXPECT_TRUE(woke);
    EXPECT_TRUE(handled);
}

TEST(EventQueueTest, NoticePostedFromAnotherThreadWakesTheWait) {
    TEventQueue queue;
    bool handled = false;
    std::thread poster([&] { queue.Post([&] { handled = true; }); });
    for (int i = 0; i < 10 && !handled; ++i)
        queue.WaitForEvent(1000);
    poster.join();
    EXPECT_TRUE(handled);
}

TEST(EventQueueTest, WaitInsideAHandlerSeesTheHandlersOwnNotices) {
    TEventQueue queue;
    bool inner = false;
    bool sawInner = false;
    queue.Post([&] {
        queue.Post([&] { inner = true; });
        sawInner = queue.WaitForEvent(1000) && inner;
    });
    queue.Pump();
    EXPECT_TRUE(sawInner);
}

TEST(EventQueueTest, NestedPumpKeepsThePostingOrder) {
    TEventQueue queue;
    std::vector<int> order;
    queue.Post([&] {
        queue.Post([&] { order.push_back(2); });
        queue.Post([&] { order.push_back(3); });
        order.push_back(1);
        queue.Pump();
        order.push_back(4);
    });
    queue.Pump();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
}

TEST(EventQueueTest, EachThreadHasItsOwnQueue) {
    TEventQueue* mine = &TEventQueue::ForThisThread();
    TEventQueue* other = nullptr;
    std::thread([&] { other = &TEventQueue::ForThisThread(); }).join();
    EXPECT_EQ(mine, &TEventQueue::ForThisThread());
    EXPECT_NE(mine, other);
}

TEST(EventQueueTest, AFailingHandlerLeavesTheQueueUsable) {
    TEventQueue queue;
    bool later = false;
    queue.Post([] { throw std::runtime_error("handler failed"); });
    queue.Post([&] { later = true; });
    EXPECT_THROW(queue.Pump(), std::runtime_error);
    queue.Pump();
    EXPECT_TRUE(later);
}

} // namespace
