// Puts the core back into its load-time state around each test.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "VXArvessaDiagCore.h"
#include "core/simulation_switch.h"
#include "j2534/device_state.h"
#include "core/raw_log.h"
#include "platform/clock_hooks.h"

namespace vx::testing {

// A fixed wall clock and a tick count and sleep that only record, so no test
// waits for real time.
struct FakeClock {
    static inline platform::LocalTime now{2024, 3, 5, 9, 7, 31};
    static inline std::uint32_t ticks = 0;
    static inline std::vector<std::uint32_t> sleeps;

    static void install() {
        now = {2024, 3, 5, 9, 7, 31};
        ticks = 0;
        sleeps.clear();
        platform::ClockHooks hooks;
        hooks.local_time = [] { return now; };
        hooks.tick_count_ms = [] { return ticks; };
        hooks.sleep_ms = [](std::uint32_t ms) { sleeps.push_back(ms); };
        platform::set_clock_hooks(&hooks);
    }
    static void uninstall() { platform::set_clock_hooks(nullptr); }
};

class CoreTest : public ::testing::Test {
protected:
    void SetUp() override { reset_core(); }
    void TearDown() override {
        reset_core();
        FakeClock::uninstall();
    }

    // Back to a freshly loaded core with the fake clock: releases whatever
    // device library is bound, empties the log.
    static void reset_core() {
        FakeClock::install();
        VX_CloseJ2534(nullptr, 0);
        j2534::reset_device_state_for_tests();
        set_simulation(false);
        clear_log_for_tests();
    }

    // The whole raw log, read through the export as a host reads it.
    static std::string log() {
        std::string text(static_cast<std::size_t>(VX_GetLastLog(nullptr, 0)), '\0');
        VX_GetLastLog(text.data(), static_cast<int>(text.size() + 1));
        return text;
    }
};

}  // namespace vx::testing
