// The benchmark program: pauses are recorded instead of slept before any
// benchmark runs, so every figure is the core's own time. After the
// benchmarks' own output it prints each export's median own time as a share
// of one K-line byte.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "export_timing.h"

namespace {

// The console output as usual, and the core's median own time of every run
// that timed an export, in the order they ran.
class LineShareReporter : public benchmark::ConsoleReporter {
public:
    static constexpr std::string_view kSuffix = "/manual_time";

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const auto own = run.counters.find("core_p50_ns");
            if (run.run_type != Run::RT_Iteration || own == run.counters.end()) continue;
            std::string name = run.benchmark_name();
            if (name.ends_with(kSuffix)) name.resize(name.size() - kSuffix.size());
            rows_.emplace_back(std::move(name), own->second.value);
        }
    }

    void print_table() const {
        if (rows_.empty()) return;
        std::printf("\n| Export (case) | Own time, median | Share of one K-line byte |\n| --- | ---: | ---: |\n");
        for (const auto& [name, own_ns] : rows_) {
            std::printf("| %s | %.0f ns | %.4f %% |\n", name.c_str(), own_ns, 100.0 * own_ns / vx::bench::kKLineByteNs);
        }
    }

private:
    std::vector<std::pair<std::string, double>> rows_;
};

}  // namespace

int main(int argc, char** argv) {
    vx::bench::BenchClock::install();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    LineShareReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.print_table();
    benchmark::Shutdown();
    vx::platform::set_clock_hooks(nullptr);
    return 0;
}
