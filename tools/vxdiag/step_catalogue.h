// The steps of a vxdiag session: one per export a host calls, written on the
// command line as NAME or NAME:ARGUMENT (e.g. connect:10400, init:0x33,
// safe-function:'{"mode":"verified",...}').
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

namespace vxdiag {

enum class StepKind {
    Devices,
    Open,
    Close,
    Connect,
    Init,
    KLineProbe,
    TrafficProbe,
    Battery,
    Faults,
    LiveData,
    SafeFunction,
    Actuator,
    ClearFaults,
    Simulation,
    Version,
    Log,
};

// How a step's argument is read.
enum class ArgumentKind {
    None,         // the step takes no argument
    Path,         // a library path (optional)
    Baud,         // an unsigned 32-bit baud rate (optional)
    Address,      // an ECU address byte, decimal or 0x-hex (optional)
    Text,         // free text (optional)
    Request,      // a JSON object text (optional)
    OnOff,        // on/off (required)
};

struct StepInfo {
    StepKind kind;
    const char* name;         // as written on the command line
    const char* export_name;  // the core export it calls
    ArgumentKind argument;
    const char* help;         // one line for --help
};

// One step as parsed, ready to run.
struct Step {
    StepKind kind = StepKind::Version;
    std::string text;          // Open: the path (empty: the session's library); TrafficProbe: the protocol; commands: the request
    std::uint32_t number = 0;  // Connect: the baud rate; Init: the address; Simulation: 1 = on
    std::string as_written;    // the step as written, for messages
};

// A command line that cannot be run; the message names the bad argument.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Defaults of steps written without an argument.
inline constexpr std::uint32_t kDefaultBaud = 10400;       // ISO 9141-2 K-line rate
inline constexpr std::uint32_t kDefaultEcuAddress = 0x33;  // ISO 9141-2 OBD address
inline constexpr const char* kDefaultTrafficProtocol = "KWP71";

std::span<const StepInfo> step_catalogue();
const StepInfo& step_info(StepKind kind);

// Parses NAME or NAME:ARGUMENT (split at the first colon). An "open" without
// a path takes the session's library when it runs. Throws UsageError.
Step parse_step(std::string_view written);

// The step list for --help: one line per step with its argument.
std::string steps_help();

}  // namespace vxdiag
