// A fixed session for instruction counts: one pass over every export against
// the simulated device in instant mode, then the exports answered without it
// (in simulation, without a channel, with an empty registration folder), with
// a fixed wall clock and recorded pauses, so that the count is the same on
// every run. A first pass warms up (binds the library, grows the buffers); in
// the second only the core's own instructions are counted: collection is
// switched on around each export and off again inside every device call and
// while the device is scripted.
//
//   valgrind --tool=callgrind --collect-atstart=no build/bench-rel/bench/vxcore_session
//
// bench/callgrind_session.sh runs this and prints the counts per export.
#include <valgrind/callgrind.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

#include "bench_support.h"
#include "platform/environment.h"

namespace {

using vx::bench::g_result;
using vx::bench::kResultSize;
using vx::bench::SimControl;
using vx::bench::DeviceTimer;

bool g_counting = false;

void toggle_collection() {
    if (g_counting) CALLGRIND_TOGGLE_COLLECT;
}

char g_small[64];
constexpr int kSmallSize = static_cast<int>(sizeof g_small);

// One export call, counted in the measured pass.
template <typename Call>
long counted(Call&& call) {
    toggle_collection();
    const long length = call();
    toggle_collection();
    return length;
}

using vx::bench::kActuator;
using vx::bench::kSafeVerified;

// Shorter than the benchmarks' requests, and kept so that the counts compare
// with earlier sessions.
constexpr const char* kSafeUnverified =
    R"({"type":"actuator","name":"Radiator fan relay","mode":"row-click","startHex":"80 10 F1 02 31 01 B5"})";
constexpr const char* kClearShort =
    R"({"name":"Clear DTC","mode":"verified","clearHex":"80 10 F1 01 14 96","stopHex":"80 10 F1 01 3E 10"})";

// Each export call of the session as a function of its own, so that the
// counts show per call.
#define VX_SESSION_STEP(name, expression) \
    __attribute__((noinline)) long step_##name() { \
        return counted([] { return static_cast<long>(expression); }); \
    }
VX_SESSION_STEP(ListJ2534Devices, VX_ListJ2534Devices(g_result, kResultSize))
VX_SESSION_STEP(OpenJ2534Dll, VX_OpenJ2534Dll(SimControl::path(), g_result, kResultSize))
VX_SESSION_STEP(TestIso9141Connect, VX_TestIso9141Connect(10400, g_result, kResultSize))
VX_SESSION_STEP(TryFiveBaudInit, VX_TryFiveBaudInit(0x33, g_result, kResultSize))
VX_SESSION_STEP(ReadBatteryVoltage, VX_ReadBatteryVoltage(g_result, kResultSize))
VX_SESSION_STEP(KLineActivityProbe, VX_KLineActivityProbe(g_result, kResultSize))
VX_SESSION_STEP(ProtocolTrafficProbe, VX_ProtocolTrafficProbe("KWP71", g_result, kResultSize))
VX_SESSION_STEP(ReadFaults, VX_ReadFaults(nullptr, g_result, kResultSize))
VX_SESSION_STEP(ReadLiveData, VX_ReadLiveData(nullptr, g_result, kResultSize))
VX_SESSION_STEP(RunSafeFunction_verified, VX_RunSafeFunction(kSafeVerified, g_result, kResultSize))
VX_SESSION_STEP(RunSafeFunction_backend_forward, VX_RunSafeFunction(kSafeUnverified, g_result, kResultSize))
VX_SESSION_STEP(RunActuatorKwp71, VX_RunActuatorKwp71(kActuator, g_result, kResultSize))
VX_SESSION_STEP(ClearFaultMemory, VX_ClearFaultMemory(kClearShort, g_result, kResultSize))
VX_SESSION_STEP(SetSimulation_on, VX_SetSimulation(1))
VX_SESSION_STEP(RunSafeFunction_simulated, VX_RunSafeFunction(kSafeVerified, g_result, kResultSize))
VX_SESSION_STEP(RunActuatorKwp71_simulated, VX_RunActuatorKwp71(kActuator, g_result, kResultSize))
VX_SESSION_STEP(ClearFaultMemory_simulated, VX_ClearFaultMemory(kClearShort, g_result, kResultSize))
VX_SESSION_STEP(ReadLiveData_simulated, VX_ReadLiveData(nullptr, g_result, kResultSize))
VX_SESSION_STEP(SetSimulation_off, VX_SetSimulation(0))
VX_SESSION_STEP(GetLastLog, VX_GetLastLog(g_small, kSmallSize))
VX_SESSION_STEP(CloseJ2534, VX_CloseJ2534(g_result, kResultSize))
VX_SESSION_STEP(RunSafeFunction_no_channel, VX_RunSafeFunction(kSafeVerified, g_result, kResultSize))
VX_SESSION_STEP(RunActuatorKwp71_no_channel, VX_RunActuatorKwp71(kActuator, g_result, kResultSize))
VX_SESSION_STEP(ClearFaultMemory_no_channel, VX_ClearFaultMemory(kClearShort, g_result, kResultSize))
VX_SESSION_STEP(ListJ2534Devices_empty_folder, VX_ListJ2534Devices(g_result, kResultSize))
#undef VX_SESSION_STEP

// The discovery once more, with an empty registration folder.
long list_empty_folder() {
    const std::optional<std::string> home = vx::platform::environment_variable("HOME");
    const std::string empty_home = std::filesystem::temp_directory_path() / "vxdiag-session-empty-home";
    std::filesystem::create_directories(empty_home + "/.passthru");
    vx::platform::set_environment_variable("HOME", empty_home.c_str());
    const long length = step_ListJ2534Devices_empty_folder();
    vx::platform::set_environment_variable("HOME", home ? home->c_str() : nullptr);
    std::filesystem::remove_all(empty_home);
    return length;
}

// The session as a host runs it; returns the sum of the result lengths so
// that a changed answer shows.
long run_session(SimControl& sim) {
    long total = 0;
    sim.sim_reset();
    sim.sim_set_clear_rx_discards(1);
    vx::clear_log_for_tests();
    total += step_ListJ2534Devices();
    total += step_OpenJ2534Dll();
    DeviceTimer::install();
    total += step_TestIso9141Connect();
    total += step_TryFiveBaudInit();
    total += step_ReadBatteryVoltage();
    sim.queue_replies(8, 1);
    total += step_KLineActivityProbe();
    sim.queue_replies(8, 1);
    total += step_ProtocolTrafficProbe();
    sim.queue_replies(8, 1);
    total += step_ReadFaults();
    sim.queue_replies(8, 1);
    total += step_ReadLiveData();
    sim.queue_replies(8, 1);
    sim.queue_replies(8, 2);
    total += step_RunSafeFunction_verified();
    sim.queue_replies(8, 1);
    total += step_RunSafeFunction_backend_forward();
    sim.queue_replies(8, 1);
    total += step_RunActuatorKwp71();
    sim.queue_replies(8, 1);
    total += step_ClearFaultMemory();
    total += step_SetSimulation_on();
    total += step_RunSafeFunction_simulated();
    total += step_RunActuatorKwp71_simulated();
    total += step_ClearFaultMemory_simulated();
    total += step_ReadLiveData_simulated();
    total += step_SetSimulation_off();
    total += step_GetLastLog();
    total += step_CloseJ2534();
    total += static_cast<long>(VX_CoreVersion()[0]);
    // The commands' answer without a channel: the device bound, nothing else.
    VX_OpenJ2534Dll(SimControl::path(), g_result, kResultSize);
    DeviceTimer::install();
    total += step_RunSafeFunction_no_channel();
    total += step_RunActuatorKwp71_no_channel();
    total += step_ClearFaultMemory_no_channel();
    VX_CloseJ2534(g_result, kResultSize);
    return total + list_empty_folder();
}

}  // namespace

int main() {
    // No registrations: the discovery's answer must not depend on the machine.
    vx::platform::set_environment_variable("HOME", "/nonexistent/vxdiag-session-home");
    vx::platform::ClockHooks hooks;
    hooks.local_time = [] { return vx::platform::LocalTime{2024, 3, 5, 9, 7, 31}; };
    hooks.tick_count_ms = [] { return 123456u; };
    hooks.sleep_ms = [](std::uint32_t) {};
    vx::platform::set_clock_hooks(&hooks);
    SimControl sim;
    // The device's calls are left out of the count.
    DeviceTimer::around_device = [](bool) { toggle_collection(); };
    const long warm = run_session(sim);
    g_counting = true;
    const long measured = run_session(sim);
    g_counting = false;
    std::printf("session result bytes: %ld (warm-up %ld)\n", measured, warm);
    vx::platform::set_clock_hooks(nullptr);
    return measured == warm ? 0 : 1;
}
