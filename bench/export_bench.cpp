// The core's own cost per call of every export, against the simulated device
// in instant mode.
//
// Each iteration is timed by hand: the wall time of the export minus the time
// spent inside the device's entry points (DeviceTimer) minus the timer's own
// cost, calibrated at start. The reported Time is that remainder, the core's
// own cost; the counters give the wall time, the device time and the device
// calls per export call. Scripting the device for the next call (queueing
// replies, emptying its call record) happens between the timed regions.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "bench_support.h"
#include "platform/environment.h"

namespace vx::bench {
namespace {

SimControl& sim() {
    static SimControl control;
    return control;
}

double median(std::vector<double>& values) {
    if (values.empty()) return 0;
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

// The cost of one steady-clock reading. Each timed device call leaves about
// one reading's cost outside its own window (the start of the first, the end
// of the second), and so does the pair around the export. The median of many
// short batches, so that a preemption during the calibration does not count.
double clock_cost_ns() {
    static const double cost = [] {
        constexpr int kBatches = 2001;
        constexpr int kReadings = 64;
        std::vector<double> batches;
        std::uint64_t sink = 0;
        for (int b = 0; b < kBatches; ++b) {
            const std::uint64_t start = DeviceTimer::now_ns();
            for (int i = 0; i < kReadings; ++i) sink += DeviceTimer::now_ns();
            batches.push_back(static_cast<double>(DeviceTimer::now_ns() - start) / (kReadings + 1));
        }
        benchmark::DoNotOptimize(sink);
        return median(batches);
    }();
    return cost;
}

// Runs call once per iteration after prepare, and reports the core's own time:
// the mean as the benchmark's Time, the median per call as core_p50_ns (on a
// busy machine a preempted call inflates the mean, hardly the median).
void run_export(benchmark::State& state, const std::function<void()>& prepare,
                const std::function<int()>& call) {
    const double clock_cost = clock_cost_ns();
    std::vector<double> core_times;
    std::vector<double> wall_times;
    double wall_total = 0;
    double device_total = 0;
    double calls_total = 0;
    std::uint64_t n = 0;
    for (auto _ : state) {
        if (prepare) prepare();
        sim().sim_clear_calls();
        // The log is emptied now and then so that a long run does not hold
        // gigabytes; appending stays amortised constant either way.
        if ((++n & 0x3FF) == 0) clear_log_for_tests();

        const std::uint64_t device_before = DeviceTimer::device_ns();
        const std::uint64_t calls_before = DeviceTimer::device_calls();
        const std::uint64_t start = DeviceTimer::now_ns();
        benchmark::DoNotOptimize(call());
        const std::uint64_t end = DeviceTimer::now_ns();
        const auto device = static_cast<double>(DeviceTimer::device_ns() - device_before);
        const auto calls = static_cast<double>(DeviceTimer::device_calls() - calls_before);
        const double wall = static_cast<double>(end - start);
        const double core = std::max(wall - device - (calls + 1) * clock_cost, 1.0);
        state.SetIterationTime(core * 1e-9);
        wall_total += wall;
        device_total += device;
        calls_total += calls;
        core_times.push_back(core);
        wall_times.push_back(wall);
    }
    const auto per_call = benchmark::Counter::kAvgIterations;
    state.counters["wall_ns"] = benchmark::Counter(wall_total, per_call);
    state.counters["device_ns"] = benchmark::Counter(device_total, per_call);
    state.counters["device_calls"] = benchmark::Counter(calls_total, per_call);
    state.counters["core_p50_ns"] = median(core_times);
    state.counters["clock_ns"] = clock_cost;
    state.counters["wall_p50_ns"] = median(wall_times);
}

// ---- Requests as a host sends them ----

constexpr const char* kSafeVerified =
    R"({"type":"actuator","name":"Radiator fan relay","mode":"verified-mapped",)"
    R"("startHex":"80 10 F1 02 31 01 B5","stopHex":"80 10 F1 02 32 01 B6","timeoutMs":100,"maxRunMs":150})";
constexpr const char* kSafeUnverified =
    R"({"type":"actuator","name":"Radiator fan relay","mode":"row-click",)"
    R"("startHex":"80 10 F1 02 31 01 B5","stopHex":"80 10 F1 02 32 01 B6","timeoutMs":100,"maxRunMs":150})";
constexpr const char* kActuator =
    R"({"name":"Idle valve","mode":"kwp71-command-data","commandType":"04","payloadHex":"21 05",)"
    R"("trailer":"03","timeoutMs":100,"maxRunMs":150})";
constexpr const char* kClear =
    R"({"name":"Clear DTC","mode":"verified","clearHex":"80 10 F1 01 14 96","stopHex":"80 10 F1 01 3E 10",)"
    R"("timeoutMs":100})";

// ---- Exports without a device operation ----

void BM_CoreVersion(benchmark::State& state) {
    run_export(state, nullptr, [] { return static_cast<int>(VX_CoreVersion()[0]); });
}
BENCHMARK(BM_CoreVersion)->UseManualTime();

void BM_SetSimulation(benchmark::State& state) {
    int enabled = 0;
    run_export(state, nullptr, [&enabled] { return VX_SetSimulation(enabled ^= 1); });
    VX_SetSimulation(0);
}
BENCHMARK(BM_SetSimulation)->UseManualTime();

// Every K-line export with the simulation switch on: answered without the
// device, so each belongs to the 400 ns class.
void BM_Simulated(benchmark::State& state, const std::function<int()>& call) {
    open_session(sim(), true);
    VX_SetSimulation(1);
    run_export(state, nullptr, call);
    close_session(sim());
}
BENCHMARK_CAPTURE(BM_Simulated, TestIso9141Connect, [] { return VX_TestIso9141Connect(10400, g_result, kResultSize); })->UseManualTime();
BENCHMARK_CAPTURE(BM_Simulated, TryFiveBaudInit, [] { return VX_TryFiveBaudInit(0x33, g_result, kResultSize); })->UseManualTime();
BENCHMARK_CAPTURE(BM_Simulated, KLineActivityProbe, [] { return VX_KLineActivityProbe(g_result, kResultSize); })->UseManualTime();
BENCHMARK_CAPTURE(BM_Simulated, ProtocolTrafficProbe, [] { return VX_ProtocolTrafficProbe("KWP71", g_result, kResultSize); })->UseManualTime();
BENCHMARK_CAPTURE(BM_Simulated, ReadBatteryVoltage, [] { return VX_ReadBatteryVoltage(g_result, kResultSize); })->UseManualTime();
BENCHMARK_CAPTURE(BM_Simulated, ReadFaults, [] { return VX_ReadFaults(nullptr, g_result, kResultSize); })->UseManualTime();
BENCHMARK_CAPTURE(BM_Simulated, ReadLiveData, [] { return VX_ReadLiveData(nullptr, g_result, kResultSize); })->UseManualTime();
BENCHMARK_CAPTURE(BM_Simulated, RunSafeFunction, [] { return VX_RunSafeFunction(kSafeVerified, g_result, kResultSize); })->UseManualTime();
BENCHMARK_CAPTURE(BM_Simulated, RunActuatorKwp71, [] { return VX_RunActuatorKwp71(kActuator, g_result, kResultSize); })->UseManualTime();
BENCHMARK_CAPTURE(BM_Simulated, ClearFaultMemory, [] { return VX_ClearFaultMemory(kClear, g_result, kResultSize); })->UseManualTime();

// The not-connected answer of a command (device bound, no channel).
void BM_CommandNotConnected(benchmark::State& state) {
    VX_CloseJ2534(nullptr, 0);
    sim().sim_reset();
    VX_OpenJ2534Dll(SimControl::path(), g_result, kResultSize);
    DeviceTimer::install();
    run_export(state, nullptr, [] { return VX_RunSafeFunction(kSafeVerified, g_result, kResultSize); });
    close_session(sim());
}
BENCHMARK(BM_CommandNotConnected)->UseManualTime();

// The discovery reads one registration file standing in for a registry key.
void BM_ListJ2534Devices(benchmark::State& state) {
    const std::filesystem::path home =
        std::filesystem::temp_directory_path() / ("vxdiag-bench-home-" + std::to_string(::getpid()));
    std::filesystem::create_directories(home / ".passthru");
    std::ofstream(home / ".passthru" / "SimDevice.json")
        << R"({"NAME":"Sim Device","VENDOR":"Bench","FUNCTION_LIB":")" << SimControl::path() << "\"}";
    const std::optional<std::string> previous = platform::environment_variable("HOME");
    platform::set_environment_variable("HOME", home.string().c_str());
    run_export(state, nullptr, [] { return VX_ListJ2534Devices(g_result, kResultSize); });
    platform::set_environment_variable("HOME", previous ? previous->c_str() : nullptr);
    std::filesystem::remove_all(home);
}
BENCHMARK(BM_ListJ2534Devices)->UseManualTime();

// ---- Binding: open and close alternate, each timed on its own ----

void BM_OpenJ2534Dll(benchmark::State& state) {
    VX_CloseJ2534(nullptr, 0);
    sim().sim_reset();
    run_export(state, [] { VX_CloseJ2534(nullptr, 0); },
               [] { return VX_OpenJ2534Dll(SimControl::path(), g_result, kResultSize); });
    close_session(sim());
}
BENCHMARK(BM_OpenJ2534Dll)->UseManualTime();

void BM_CloseJ2534(benchmark::State& state) {
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
BENCHMARK(BM_CloseJ2534)->UseManualTime();

// ---- Channel, readings ----

void BM_TestIso9141Connect(benchmark::State& state) {
    open_session(sim(), false);
    run_export(state, nullptr, [] { return VX_TestIso9141Connect(10400, g_result, kResultSize); });
    close_session(sim());
}
BENCHMARK(BM_TestIso9141Connect)->UseManualTime();

void BM_TryFiveBaudInit(benchmark::State& state) {
    open_session(sim(), false);
    run_export(state, nullptr, [] { return VX_TryFiveBaudInit(0x33, g_result, kResultSize); });
    close_session(sim());
}
BENCHMARK(BM_TryFiveBaudInit)->UseManualTime();

void BM_ReadBatteryVoltage(benchmark::State& state) {
    open_session(sim(), true);
    run_export(state, nullptr, [] { return VX_ReadBatteryVoltage(g_result, kResultSize); });
    close_session(sim());
}
BENCHMARK(BM_ReadBatteryVoltage)->UseManualTime();

// ---- Probes and commands, eight replies to each frame ----

void BM_Probe(benchmark::State& state, bool confirmed, const std::function<void()>& prepare,
              const std::function<int()>& call) {
    open_session(sim(), confirmed);
    run_export(state, prepare, call);
    close_session(sim());
}

const auto eight_after_next_write = [] { sim().queue_replies(8, 1); };
// The listen-only traffic probe writes nothing: its replies are there at once.
const auto eight_now = [] { sim().queue_replies(8, 0); };

BENCHMARK_CAPTURE(BM_Probe, KLineActivityProbe, true, eight_after_next_write,
                  [] { return VX_KLineActivityProbe(g_result, kResultSize); })->UseManualTime();
BENCHMARK_CAPTURE(BM_Probe, ProtocolTrafficProbe_KWP71, true, eight_after_next_write,
                  [] { return VX_ProtocolTrafficProbe("KWP71", g_result, kResultSize); })->UseManualTime();
BENCHMARK_CAPTURE(BM_Probe, ProtocolTrafficProbe_listen, true, eight_now,
                  [] { return VX_ProtocolTrafficProbe("ISO9141", g_result, kResultSize); })->UseManualTime();
BENCHMARK_CAPTURE(BM_Probe, ReadFaults, true, eight_after_next_write,
                  [] { return VX_ReadFaults(nullptr, g_result, kResultSize); })->UseManualTime();
BENCHMARK_CAPTURE(BM_Probe, ReadLiveData, true, eight_after_next_write,
                  [] { return VX_ReadLiveData(nullptr, g_result, kResultSize); })->UseManualTime();
// A mapping that is not verified: the backend-forward probe instead.
BENCHMARK_CAPTURE(BM_Probe, RunSafeFunction_backend_forward, true, eight_after_next_write,
                  [] { return VX_RunSafeFunction(kSafeUnverified, g_result, kResultSize); })->UseManualTime();
// The initialisation not confirmed: the audit fallback probe.
BENCHMARK_CAPTURE(BM_Probe, RunActuatorKwp71_audit_fallback, false, eight_after_next_write,
                  [] { return VX_RunActuatorKwp71(kActuator, g_result, kResultSize); })->UseManualTime();

BENCHMARK_CAPTURE(BM_Probe, RunSafeFunction_verified_start_stop, true,
                  [] {
                      sim().queue_replies(8, 1);  // after the start frame
                      sim().queue_replies(8, 2);  // after the stop frame
                  },
                  [] { return VX_RunSafeFunction(kSafeVerified, g_result, kResultSize); })->UseManualTime();
BENCHMARK_CAPTURE(BM_Probe, RunActuatorKwp71, true, eight_after_next_write,
                  [] { return VX_RunActuatorKwp71(kActuator, g_result, kResultSize); })->UseManualTime();
BENCHMARK_CAPTURE(BM_Probe, ClearFaultMemory, true, eight_after_next_write,
                  [] { return VX_ClearFaultMemory(kClear, g_result, kResultSize); })->UseManualTime();

}  // namespace
}  // namespace vx::bench
