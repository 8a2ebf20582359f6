#pragma once

#include <cstdint>
#include <functional>

// The 32-bit millisecond tick count: milliseconds of the monotonic clock,
// truncated to 32 bits, so it wraps about every 49.7 days.
uint32_t TickCount();

// Milliseconds from `earlier` to `later`, taken modulo 2^32 so a wrap between the
// two stamps still gives the right distance.
inline uint32_t TicksBetween(uint32_t earlier, uint32_t later) {
    return later - earlier;
}

// Tests replace the clock to reach wrap-around and long waits without sleeping;
// an empty function restores the monotonic clock.
void SetTickSourceForTests(std::function<uint32_t()> source);
