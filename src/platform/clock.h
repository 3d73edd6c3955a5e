// Wall clock, millisecond tick count and sleep.
#pragma once

#include <cstdint>

namespace vx::platform {

struct LocalTime {
    int year;
    int month;
    int day;
    int hour;
    int minute;
    int second;
};

LocalTime local_time();

// Milliseconds since an arbitrary start, wrapping at 2^32 like GetTickCount.
std::uint32_t tick_count_ms();

// Blocks the calling thread for about this many milliseconds.
void sleep_ms(std::uint32_t milliseconds);

}  // namespace vx::platform
