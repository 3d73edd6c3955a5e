// For tests only: the clock and the sleep replaced, so that timing is tested
// on simulated time without waiting. Nothing in the core installs hooks.
#pragma once

#include <cstdint>

#include "platform/clock.h"

namespace vx::platform {

// Any of the three may be replaced; a null member keeps the real one.
struct ClockHooks {
    LocalTime (*local_time)() = nullptr;
    std::uint32_t (*tick_count_ms)() = nullptr;
    void (*sleep_ms)(std::uint32_t) = nullptr;
};

// Installs hooks (copied); pass null to restore the real clock.
void set_clock_hooks(const ClockHooks* hooks);

}  // namespace vx::platform
