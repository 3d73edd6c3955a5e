// The benchmark program: pauses are recorded instead of slept before any
// benchmark runs, so every figure is the core's own time.
#include <benchmark/benchmark.h>

#include "bench_support.h"

int main(int argc, char** argv) {
    vx::bench::BenchClock::install();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    vx::platform::set_clock_hooks(nullptr);
    return 0;
}
