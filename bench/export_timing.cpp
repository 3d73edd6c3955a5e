#include "export_timing.h"

#include <algorithm>
#include <cstdint>

namespace vx::bench {

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

std::vector<double> run_export(benchmark::State& state, const std::function<void()>& prepare,
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
    state.counters["of_kline_byte"] = state.counters["core_p50_ns"].value / kKLineByteNs;
    state.counters["clock_ns"] = clock_cost;
    state.counters["wall_p50_ns"] = median(wall_times);
    return core_times;
}

}  // namespace vx::bench
