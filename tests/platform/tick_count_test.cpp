#include "platform/tick_count.h"

#include <gtest/gtest.h>

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
    const uint32_t a = TickCount();
    const uint32_t b = TickCount();
    EXPECT_LT(TicksBetween(a, b), 1000u);
}
