// Shared set-up of the benchmarks: the simulated device, the clock seam and a
// core session bound to the device.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "VXArvessaDiagCore.h"
#include "core/raw_log.h"
#include "device_timer.h"
#include "j2534/device_state.h"
#include "passthru_sim_control.h"
#include "platform/clock_hooks.h"
#include "platform/dynamic_library.h"

namespace vx::bench {

// The simulated device's back door, resolved from the same build the core
// binds. Holding the library keeps the device's state across the core's
// load and unload.
class SimControl {
public:
    SimControl() {
        library_ = platform::load_library(VXDIAG_SIM_PATH);
        if (library_ == nullptr) fail("cannot load the simulated device " VXDIAG_SIM_PATH);
#define VX_SIM_RESOLVE(ret, name, params) resolve(name, #name);
        SIM_CONTROL_FUNCTIONS(VX_SIM_RESOLVE)
#undef VX_SIM_RESOLVE
        sim_reset();
    }
    ~SimControl() { platform::free_library(library_); }
    SimControl(const SimControl&) = delete;
    SimControl& operator=(const SimControl&) = delete;

    static const char* path() { return VXDIAG_SIM_PATH; }

#define VX_SIM_MEMBER(ret, name, params) ret(*name) params = nullptr;
    SIM_CONTROL_FUNCTIONS(VX_SIM_MEMBER)
#undef VX_SIM_MEMBER

    // count replies of length bytes, released after after_writes writes.
    void queue_replies(unsigned count, unsigned after_writes, std::size_t length = 8) {
        static const unsigned char bytes[16] = {0x48, 0x6B, 0x10, 0x41, 0x00, 0xBE, 0x1F, 0xB8,
                                                0x13, 0xA4, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
        for (unsigned i = 0; i < count; ++i) {
            sim_reply reply{};
            reply.data = bytes;
            reply.size = static_cast<unsigned long>(length);
            reply.protocol_id = 3;  // ISO9141
            reply.after_writes = after_writes;
            sim_queue_reply(&reply);
        }
    }

private:
    [[noreturn]] static void fail(const std::string& what) {
        std::fprintf(stderr, "%s\n", what.c_str());
        std::exit(2);
    }
    template <typename Fn>
    void resolve(Fn& slot, const char* name) {
        slot = reinterpret_cast<Fn>(platform::find_symbol(library_, name));
        if (slot == nullptr) fail(std::string("the simulated device lacks ") + name);
    }

    platform::LibraryHandle library_ = nullptr;
};

// Pauses are recorded, not slept, so the benchmarks measure the core; the
// wall clock stays real, so the timestamp of each log line is paid for. The
// wall-time benchmarks sleep for real and keep what the sleeps took: on a
// busy machine a thread wakes late, which is the operating system's share of
// the overhead, not the core's.
struct BenchClock {
    static inline std::uint64_t requested_ms = 0;
    static inline std::uint64_t slept_ns = 0;

    static void install(bool sleep_for_real = false) {
        platform::ClockHooks hooks;
        hooks.sleep_ms = [](std::uint32_t ms) { requested_ms += ms; };
        if (sleep_for_real) {
            hooks.sleep_ms = [](std::uint32_t ms) {
                requested_ms += ms;
                const std::uint64_t start = DeviceTimer::now_ns();
                std::this_thread::sleep_for(std::chrono::milliseconds(ms));
                slept_ns += DeviceTimer::now_ns() - start;
            };
        }
        platform::set_clock_hooks(&hooks);
    }
};

// Requests as a host sends them: a verified function with start and stop
// frames, a KWP71 actuator block, a mapped fault clear.
inline constexpr const char* kSafeVerified =
    R"({"type":"actuator","name":"Radiator fan relay","mode":"verified-mapped",)"
    R"("startHex":"80 10 F1 02 31 01 B5","stopHex":"80 10 F1 02 32 01 B6","timeoutMs":100,"maxRunMs":150})";
inline constexpr const char* kActuator =
    R"({"name":"Idle valve","mode":"kwp71-command-data","commandType":"04","payloadHex":"21 05",)"
    R"("trailer":"03","timeoutMs":100,"maxRunMs":150})";
inline constexpr const char* kClear =
    R"({"name":"Clear DTC","mode":"verified","clearHex":"80 10 F1 01 14 96","stopHex":"80 10 F1 01 3E 10",)"
    R"("timeoutMs":100})";

// Buffers as a host passes them.
inline char g_result[32768];
constexpr int kResultSize = static_cast<int>(sizeof g_result);

// Binds the simulated device, connects the channel and, when asked, confirms
// the 5-baud initialisation; the device's entry points are then timed.
inline bool open_session(SimControl& sim, bool confirm_init) {
    VX_CloseJ2534(nullptr, 0);
    sim.sim_reset();
    // A CLEAR_RX_BUFFER drops replies left over from an earlier iteration.
    sim.sim_set_clear_rx_discards(1);
    VX_OpenJ2534Dll(SimControl::path(), g_result, kResultSize);
    DeviceTimer::install();
    VX_TestIso9141Connect(10400, g_result, kResultSize);
    if (confirm_init) VX_TryFiveBaudInit(0x33, g_result, kResultSize);
    sim.sim_clear_calls();
    clear_log_for_tests();
    const j2534::DeviceState& state = j2534::device_state();
    return state.channel_id != 0 && state.ecu_init_confirmed == confirm_init;
}

inline void close_session(SimControl& sim) {
    VX_CloseJ2534(nullptr, 0);
    sim.sim_reset();
    clear_log_for_tests();
}

}  // namespace vx::bench
