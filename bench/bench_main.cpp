// The benchmark program: pauses are recorded instead of slept before any
// benchmark runs, so every figure is the core's own time. The side-by-side
// table follows the benchmarks' own output.
#include <benchmark/benchmark.h>

#include "export_timing.h"

int main(int argc, char** argv) {
    vx::bench::BenchClock::install();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    vx::bench::print_side_by_side_table();
    benchmark::Shutdown();
    vx::platform::set_clock_hooks(nullptr);
    return 0;
}
