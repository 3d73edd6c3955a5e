// The core's own cost per call of every export: against the simulated device
// in instant mode, with sixteen replies to each frame that expects replies;
// in simulation; without a channel; and the discovery of registration files.
// Each iteration is timed by run_export (export_timing.h).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "export_timing.h"
#include "platform/environment.h"

namespace vx::bench {
namespace {

// A mapping that is not verified (the others: bench_support.h).
constexpr const char* kSafeUnverified =
    R"({"type":"actuator","name":"Radiator fan relay","mode":"row-click",)"
    R"("startHex":"80 10 F1 02 31 01 B5","stopHex":"80 10 F1 02 32 01 B6","timeoutMs":100,"maxRunMs":150})";

// ---- Exports without a device operation ----

void bm_core_version(benchmark::State& state) {
    run_export(state, nullptr, [] { return static_cast<int>(VX_CoreVersion()[0]); });
}
BENCHMARK(bm_core_version)->UseManualTime();

// The discovery with no ~/.passthru folder (0), an empty one (1) and one
// registration file standing in for a registry key (2).
void bm_list_j2534_devices(benchmark::State& state) {
    const std::filesystem::path home =
        std::filesystem::temp_directory_path() / ("vxdiag-bench-home-" + std::to_string(::getpid()));
    std::filesystem::create_directories(state.range(0) > 0 ? home / ".passthru" : home);
    if (state.range(0) > 1) {
        std::ofstream(home / ".passthru" / "SimDevice.json")
            << R"({"NAME":"Sim Device","VENDOR":"Bench","FUNCTION_LIB":")" << SimControl::path() << "\"}";
    }
    const std::optional<std::string> previous = platform::environment_variable("HOME");
    platform::set_environment_variable("HOME", home.string().c_str());
    run_export(state, nullptr, [] { return VX_ListJ2534Devices(g_result, kResultSize); });
    platform::set_environment_variable("HOME", previous ? previous->c_str() : nullptr);
    std::filesystem::remove_all(home);
}
BENCHMARK(bm_list_j2534_devices)->DenseRange(0, 2)->UseManualTime();

// Every K-line export in simulation (the switch on, no device bound), and the
// three commands with the device bound but no channel.
void bm_without_device(benchmark::State& state, bool bound, const std::function<int()>& call) {
    VX_CloseJ2534(nullptr, 0);  // unbinds and turns the switch on
    sim().sim_reset();
    if (bound) {
        VX_OpenJ2534Dll(SimControl::path(), g_result, kResultSize);
        DeviceTimer::install();
    }
    clear_log_for_tests();
    run_export(state, nullptr, call);
    close_session(sim());
}

#define VX_WITHOUT_DEVICE(name, bound, ...) \
    BENCHMARK_CAPTURE(bm_without_device, name, bound, [] { return __VA_ARGS__; })->UseManualTime()
VX_WITHOUT_DEVICE(SetSimulation, false, VX_SetSimulation(1));
VX_WITHOUT_DEVICE(TestIso9141Connect_simulated, false, VX_TestIso9141Connect(10400, g_result, kResultSize));
VX_WITHOUT_DEVICE(TryFiveBaudInit_simulated, false, VX_TryFiveBaudInit(0x33, g_result, kResultSize));
VX_WITHOUT_DEVICE(KLineActivityProbe_simulated, false, VX_KLineActivityProbe(g_result, kResultSize));
VX_WITHOUT_DEVICE(ProtocolTrafficProbe_simulated, false, VX_ProtocolTrafficProbe("KWP71", g_result, kResultSize));
VX_WITHOUT_DEVICE(ReadBatteryVoltage_simulated, false, VX_ReadBatteryVoltage(g_result, kResultSize));
VX_WITHOUT_DEVICE(ReadFaults_simulated, false, VX_ReadFaults(nullptr, g_result, kResultSize));
VX_WITHOUT_DEVICE(ReadLiveData_simulated, false, VX_ReadLiveData(nullptr, g_result, kResultSize));
VX_WITHOUT_DEVICE(RunSafeFunction_simulated, false, VX_RunSafeFunction(kSafeVerified, g_result, kResultSize));
VX_WITHOUT_DEVICE(RunActuatorKwp71_simulated, false, VX_RunActuatorKwp71(kActuator, g_result, kResultSize));
VX_WITHOUT_DEVICE(ClearFaultMemory_simulated, false, VX_ClearFaultMemory(kClear, g_result, kResultSize));
VX_WITHOUT_DEVICE(RunSafeFunction_no_channel, true, VX_RunSafeFunction(kSafeVerified, g_result, kResultSize));
VX_WITHOUT_DEVICE(RunActuatorKwp71_no_channel, true, VX_RunActuatorKwp71(kActuator, g_result, kResultSize));
VX_WITHOUT_DEVICE(ClearFaultMemory_no_channel, true, VX_ClearFaultMemory(kClear, g_result, kResultSize));
VX_WITHOUT_DEVICE(GetLastLog, false, VX_GetLastLog(g_result, kResultSize));
#undef VX_WITHOUT_DEVICE

// ---- Binding: open and close alternate, each timed on its own ----

void bm_open_j2534_dll(benchmark::State& state) {
    VX_CloseJ2534(nullptr, 0);
    sim().sim_reset();
    run_export(state, [] { VX_CloseJ2534(nullptr, 0); },
               [] { return VX_OpenJ2534Dll(SimControl::path(), g_result, kResultSize); });
    close_session(sim());
}
BENCHMARK(bm_open_j2534_dll)->UseManualTime();

void bm_close_j2534(benchmark::State& state) {
    VX_CloseJ2534(nullptr, 0);
    sim().sim_reset();
    run_export(state,
               [] {
                   VX_OpenJ2534Dll(SimControl::path(), g_result, kResultSize);
                   DeviceTimer::install();
                   VX_TestIso9141Connect(10400, g_result, kResultSize);
               },
               [] { return VX_CloseJ2534(g_result, kResultSize); });
    close_session(sim());
}
BENCHMARK(bm_close_j2534)->UseManualTime();

// ---- Channel, readings ----

void bm_test_iso9141_connect(benchmark::State& state) {
    open_session(sim(), false);
    run_export(state, nullptr, [] { return VX_TestIso9141Connect(10400, g_result, kResultSize); });
    close_session(sim());
}
BENCHMARK(bm_test_iso9141_connect)->UseManualTime();

void bm_try_five_baud_init(benchmark::State& state) {
    open_session(sim(), false);
    run_export(state, nullptr, [] { return VX_TryFiveBaudInit(0x33, g_result, kResultSize); });
    close_session(sim());
}
BENCHMARK(bm_try_five_baud_init)->UseManualTime();

void bm_read_battery_voltage(benchmark::State& state) {
    open_session(sim(), true);
    run_export(state, nullptr, [] { return VX_ReadBatteryVoltage(g_result, kResultSize); });
    close_session(sim());
}
BENCHMARK(bm_read_battery_voltage)->UseManualTime();

// ---- Probes and commands, sixteen replies to each frame ----

void bm_probe(benchmark::State& state, bool confirmed, const std::function<void()>& prepare,
              const std::function<int()>& call) {
    open_session(sim(), confirmed);
    run_export(state, prepare, call);
    close_session(sim());
}

constexpr unsigned kReplies = 16;
const auto replies_after_next_write = [] { sim().queue_replies(kReplies, 1); };
// The listen-only traffic probe writes nothing: its replies are there at once.
const auto replies_now = [] { sim().queue_replies(kReplies, 0); };

BENCHMARK_CAPTURE(bm_probe, KLineActivityProbe, true, replies_after_next_write,
                  [] { return VX_KLineActivityProbe(g_result, kResultSize); })->UseManualTime();
BENCHMARK_CAPTURE(bm_probe, ProtocolTrafficProbe_KWP71, true, replies_after_next_write,
                  [] { return VX_ProtocolTrafficProbe("KWP71", g_result, kResultSize); })->UseManualTime();
BENCHMARK_CAPTURE(bm_probe, ProtocolTrafficProbe_listen, true, replies_now,
                  [] { return VX_ProtocolTrafficProbe("ISO9141", g_result, kResultSize); })->UseManualTime();
BENCHMARK_CAPTURE(bm_probe, ReadFaults, true, replies_after_next_write,
                  [] { return VX_ReadFaults(nullptr, g_result, kResultSize); })->UseManualTime();
BENCHMARK_CAPTURE(bm_probe, ReadLiveData, true, replies_after_next_write,
                  [] { return VX_ReadLiveData(nullptr, g_result, kResultSize); })->UseManualTime();
// A mapping that is not verified: the backend-forward probe instead.
BENCHMARK_CAPTURE(bm_probe, RunSafeFunction_backend_forward, true, replies_after_next_write,
                  [] { return VX_RunSafeFunction(kSafeUnverified, g_result, kResultSize); })->UseManualTime();
// The initialisation not confirmed: the audit fallback probe.
BENCHMARK_CAPTURE(bm_probe, RunActuatorKwp71_audit_fallback, false, replies_after_next_write,
                  [] { return VX_RunActuatorKwp71(kActuator, g_result, kResultSize); })->UseManualTime();

BENCHMARK_CAPTURE(bm_probe, RunSafeFunction_verified_start_stop, true,
                  [] {
                      sim().queue_replies(kReplies, 1);  // after the start frame
                      sim().queue_replies(kReplies, 2);  // after the stop frame
                  },
                  [] { return VX_RunSafeFunction(kSafeVerified, g_result, kResultSize); })->UseManualTime();
BENCHMARK_CAPTURE(bm_probe, RunActuatorKwp71, true, replies_after_next_write,
                  [] { return VX_RunActuatorKwp71(kActuator, g_result, kResultSize); })->UseManualTime();
BENCHMARK_CAPTURE(bm_probe, ClearFaultMemory, true, replies_after_next_write,
                  [] { return VX_ClearFaultMemory(kClear, g_result, kResultSize); })->UseManualTime();

}  // namespace
}  // namespace vx::bench
