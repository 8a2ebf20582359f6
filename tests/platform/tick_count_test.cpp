#include "platform/tick_count.h"

#include <gtest/gtest.h>

#include <chrono>

TEST(TickCount, DistanceSurvivesWrapAround) {
    struct Case {
        uint32_t earlier, later, expected;
    } cases[] = {
        {100, 1100, 1000},
        {0xFFFFFF00u, 0x000000FFu, 0x1FF},
        {0xFFFFFFFFu, 0, 1},
        {5, 5, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TicksBetween(c.earlier, c.later), c.expected) << c.earlier << " " << c.later;
}

TEST(TickCount, TestSourceReplacesAndRestoresTheClock) {
    SetTickSourceForTests([] { return 0xFFFFFFF0u; });
    EXPECT_EQ(TickCount(), 0xFFFFFFF0u);
    SetTickSourceForTests({});
    // The restored clock is the steady clock in milliseconds: a reading lies
    // between two readings of that clock taken around it.
    const auto steadyMs = [] {
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        return static_cast<uint32_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
    };
    const uint32_t before = steadyMs();
    const uint32_t tick = TickCount();
    const uint32_t after = steadyMs();
    EXPECT_LE(TicksBetween(before, tick), TicksBetween(before, after));
}
