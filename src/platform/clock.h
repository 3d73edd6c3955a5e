// Wall clock, millisecond tick count and sleep, with a seam for tests.
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

// Tests replace any of the three; a null member keeps the real one.
struct ClockHooks {
    LocalTime (*local_time)() = nullptr;
    std::uint32_t (*tick_count_ms)() = nullptr;
    void (*sleep_ms)(std::uint32_t) = nullptr;
};

// Installs hooks (copied); pass null to restore the real clock.
void set_clock_hooks(const ClockHooks* hooks);

}  // namespace vx::platform
