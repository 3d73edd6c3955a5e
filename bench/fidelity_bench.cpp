// Wall-time fidelity in real time: the simulated device takes a known time per
// call (1 ms per read, ioctl, connect and disconnect, 2 ms per write) and the
// core's pauses really sleep. Per export call the counters give the wall time,
// the time spent inside the device, the pauses requested, and what is left:
// overhead = wall - device - pauses, which must stay under 2 ms (the core adds
// no waits, retries or sleeps of its own); core_us leaves out how late the
// sleeping thread woke up. Filter: --benchmark_filter=wall_time
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <functional>

#include "export_timing.h"

namespace vx::bench {
namespace {

void time_the_device() {
    sim().sim_set_delay_ms(SIM_FN_READ_MSGS, 1);
    sim().sim_set_delay_ms(SIM_FN_WRITE_MSGS, 2);
    sim().sim_set_delay_ms(SIM_FN_IOCTL, 1);
    sim().sim_set_delay_ms(SIM_FN_CONNECT, 1);
    sim().sim_set_delay_ms(SIM_FN_DISCONNECT, 1);
}

void bm_wall_time(benchmark::State& state, bool confirmed, const std::function<void()>& prepare,
                 const std::function<int()>& call) {
    open_session(sim(), confirmed);
    sim().sim_set_clear_rx_discards(1);
    time_the_device();
    BenchClock::install(true);
    double wall_total = 0, device_total = 0, pause_total = 0, slept_total = 0, worst = 0, worst_core = 0;
    for (auto _ : state) {
        state.PauseTiming();
        if (prepare) prepare();
        sim().sim_clear_calls();
        state.ResumeTiming();
        const std::uint64_t device_before = DeviceTimer::device_ns();
        const std::uint64_t pause_before = BenchClock::requested_ms;
        const std::uint64_t slept_before = BenchClock::slept_ns;
        const std::uint64_t start = DeviceTimer::now_ns();
        benchmark::DoNotOptimize(call());
        const auto wall = static_cast<double>(DeviceTimer::now_ns() - start);
        const auto device = static_cast<double>(DeviceTimer::device_ns() - device_before);
        const auto pause = static_cast<double>(BenchClock::requested_ms - pause_before) * 1e6;
        const auto slept = static_cast<double>(BenchClock::slept_ns - slept_before);
        wall_total += wall;
        device_total += device;
        pause_total += pause;
        slept_total += slept;
        worst = std::max(worst, wall - device - pause);
        worst_core = std::max(worst_core, wall - device - slept);
    }
    BenchClock::install();
    close_session(sim());
    const auto n = static_cast<double>(state.iterations());
    state.counters["wall_ms"] = wall_total / n / 1e6;
    state.counters["device_ms"] = device_total / n / 1e6;
    state.counters["pauses_ms"] = pause_total / n / 1e6;
    state.counters["overhead_us"] = (wall_total - device_total - pause_total) / n / 1e3;
    state.counters["overhead_max_us"] = worst / 1e3;
    // The same without the late wake-ups: the core's own share.
    state.counters["core_us"] = (wall_total - device_total - slept_total) / n / 1e3;
    state.counters["core_max_us"] = worst_core / 1e3;
}

constexpr const char* kSafeVerified =
    R"({"type":"actuator","name":"Radiator fan relay","mode":"verified-mapped",)"
    R"("startHex":"80 10 F1 02 31 01 B5","stopHex":"80 10 F1 02 32 01 B6","timeoutMs":100,"maxRunMs":20})";
constexpr const char* kSafeUnverified =
    R"({"type":"actuator","name":"Radiator fan relay","mode":"row-click","startHex":"80 10 F1 02 31 01 B5"})";
constexpr const char* kActuator =
    R"({"name":"Idle valve","mode":"kwp71-command-data","commandType":"04","payloadHex":"21 05",)"
    R"("trailer":"03","timeoutMs":100,"maxRunMs":20})";
constexpr const char* kClear =
    R"({"name":"Clear DTC","mode":"verified","clearHex":"80 10 F1 01 14 96","stopHex":"80 10 F1 01 3E 10"})";

const auto eight = [] { sim().queue_replies(8, 1); };

#define VX_WALL_TIME(name, confirmed, prepare, call) \
    BENCHMARK_CAPTURE(bm_wall_time, name, confirmed, prepare, call) \
        ->Iterations(10)->UseRealTime()->Unit(benchmark::kMillisecond)

VX_WALL_TIME(TestIso9141Connect, false, nullptr, [] { return VX_TestIso9141Connect(10400, g_result, kResultSize); });
VX_WALL_TIME(TryFiveBaudInit, false, nullptr, [] { return VX_TryFiveBaudInit(0x33, g_result, kResultSize); });
VX_WALL_TIME(ReadBatteryVoltage, true, nullptr, [] { return VX_ReadBatteryVoltage(g_result, kResultSize); });
VX_WALL_TIME(KLineActivityProbe, true, eight, [] { return VX_KLineActivityProbe(g_result, kResultSize); });
VX_WALL_TIME(ProtocolTrafficProbe, true, eight, [] { return VX_ProtocolTrafficProbe("KWP71", g_result, kResultSize); });
VX_WALL_TIME(ReadFaults, true, eight, [] { return VX_ReadFaults(nullptr, g_result, kResultSize); });
VX_WALL_TIME(ReadLiveData, true, eight, [] { return VX_ReadLiveData(nullptr, g_result, kResultSize); });
VX_WALL_TIME(RunSafeFunction_verified, true,
             [] {
                 sim().queue_replies(8, 1);
                 sim().queue_replies(8, 2);
             },
             [] { return VX_RunSafeFunction(kSafeVerified, g_result, kResultSize); });
VX_WALL_TIME(RunSafeFunction_backend_forward, true, eight,
             [] { return VX_RunSafeFunction(kSafeUnverified, g_result, kResultSize); });
VX_WALL_TIME(RunActuatorKwp71, true, eight, [] { return VX_RunActuatorKwp71(kActuator, g_result, kResultSize); });
VX_WALL_TIME(ClearFaultMemory, true, eight, [] { return VX_ClearFaultMemory(kClear, g_result, kResultSize); });

}  // namespace
}  // namespace vx::bench
