// Timing one export call at a time: the core's own time, per call.
//
// Each iteration is timed by hand: the wall time of the export minus the time
// spent inside the device's entry points (DeviceTimer) minus the timer's own
// cost, calibrated at start. The reported Time is that remainder, the core's
// own cost; the counters give the wall time, the device time and the device
// calls per export call, and of_kline_byte the median own time as a share of
// one K-line byte. Scripting the device for the next call (queueing
// replies, emptying its call record) happens between the timed regions.
#pragma once

#include <benchmark/benchmark.h>

#include <functional>
#include <vector>

#include "bench_support.h"

namespace vx::bench {

// One K-line byte at 10,400 baud (ISO 9141-2): a start bit, eight data bits
// and a stop bit, about 0.96 ms.
constexpr double kKLineByteNs = 10.0 / 10400.0 * 1e9;

// The simulated device of the benchmark program.
SimControl& sim();

// The middle value (reorders values); 0 for none.
double median(std::vector<double>& values);

// The cost of one steady-clock reading. Each timed device call leaves about
// one reading's cost outside its own window (the start of the first, the end
// of the second), and so does the pair around the export. The median of many
// short batches, so that a preemption during the calibration does not count.
double clock_cost_ns();

// Runs call once per iteration after prepare, and reports the core's own time:
// the mean as the benchmark's Time, the median per call as core_p50_ns (on a
// busy machine a preempted call inflates the mean, hardly the median).
// Returns the own time of every call, in ns.
std::vector<double> run_export(benchmark::State& state, const std::function<void()>& prepare,
                               const std::function<int()>& call);


}  // namespace vx::bench
