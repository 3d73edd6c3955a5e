#include "step_runner.h"

#include <chrono>
#include <cstring>

namespace vxdiag {

namespace {

// Results have no length limit of their own; the longest seen in practice (a
// probe with its attempts and replies) is a few kilobytes, the worst case (8
// full-size replies to each of several attempts) a few hundred.
constexpr std::size_t kResultBufferBytes = std::size_t{1} << 20;

}  // namespace

StepRunner::StepRunner(const CoreLibrary& core) : api_(core.api()), buffer_(kResultBufferBytes, '\0') {}

Outcome StepRunner::run(const Step& step) {
    Outcome outcome;
    outcome.step = step;
    char* const buffer = buffer_.data();
    const int size = static_cast<int>(buffer_.size());
    buffer[0] = '\0';
    int length = -1;  // the export's return value, for exports with a result text
    const auto start = std::chrono::steady_clock::now();

    switch (step.kind) {
        case StepKind::Devices: length = api_.list_devices(buffer, size); break;
        case StepKind::Open: length = api_.open(step.text.c_str(), buffer, size); break;
        case StepKind::Close: length = api_.close(buffer, size); break;
        case StepKind::Connect: length = api_.connect(step.number, buffer, size); break;
        case StepKind::Init: length = api_.five_baud_init(step.number, buffer, size); break;
        case StepKind::KLineProbe: length = api_.kline_probe(buffer, size); break;
        case StepKind::TrafficProbe: length = api_.traffic_probe(step.text.c_str(), buffer, size); break;
        case StepKind::Battery: length = api_.read_battery(buffer, size); break;
        case StepKind::Faults: length = api_.read_faults(nullptr, buffer, size); break;
        case StepKind::LiveData: length = api_.read_live_data(nullptr, buffer, size); break;
        case StepKind::SafeFunction: length = api_.run_safe_function(step.text.c_str(), buffer, size); break;
        case StepKind::Actuator: length = api_.run_actuator(step.text.c_str(), buffer, size); break;
        case StepKind::ClearFaults: length = api_.clear_fault_memory(step.text.c_str(), buffer, size); break;
        case StepKind::Simulation: api_.set_simulation(static_cast<int>(step.number)); break;
        case StepKind::Version: {
            const char* version = api_.core_version();
            outcome.text = version != nullptr ? version : "";
            break;
        }
        case StepKind::Log: {
            // Reading the log has no side effect: ask for its length first.
            const int needed = api_.get_last_log(nullptr, 0);
            if (needed > 0) {
                std::vector<char> log(static_cast<std::size_t>(needed) + 1, '\0');
                const int copied = api_.get_last_log(log.data(), needed + 1);
                outcome.text.assign(log.data(), std::strlen(log.data()));
                outcome.truncated = copied > needed;  // the log grew in between (another thread)
            }
            break;
        }
    }
    outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    if (length >= 0) {
        outcome.truncated = length >= size;
        outcome.text.assign(buffer, std::strlen(buffer));
        outcome.result = parse_json(outcome.text);
    }
    return outcome;
}

}  // namespace vxdiag
