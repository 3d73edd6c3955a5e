#include "demo_session.h"

namespace vxdiag {

namespace {

// The KWP71 ECU of the bundled simulated vehicle wakes at this address; on it
// the five-baud init is confirmed, the keepalive, the verified function, the
// actuator block and the clear block all get an answer. KWP71 blocks are
// length, counter, title, data, end byte 03; titles 04 actuator test, 05 clear
// fault memory, 09 acknowledge.
constexpr const char* kEcuAddress = "0x10";
constexpr const char* kBaud = "10400";

// A function the host has mapped to start and stop frames and marked
// verified: an actuator block that switches the idle valve on, and after the
// run time one that switches it off.
constexpr const char* kVerifiedFunction =
    R"({"type":"actuator","name":"Idle speed valve","mode":"verified","startHex":"04 01 04 01 03",)"
    R"("stopHex":"04 03 04 00 03","maxRunMs":300,"timeoutMs":1000})";

// One KWP71 actuator block built by the core from its pieces, with the block
// counter the core keeps.
constexpr const char* kActuatorBlock =
    R"({"name":"Fuel pump relay","mode":"kwp71-command-data","commandType":"04","payloadHex":"02",)"
    R"("maxRunMs":300,"timeoutMs":1000})";

// The fault-memory clear as a KWP71 block.
constexpr const char* kClearFaults =
    R"({"name":"Clear fault memory","mode":"kwp71","commandType":"05","payloadHex":"00","timeoutMs":1000})";

}  // namespace

std::vector<std::string> demo_step_texts() {
    return {
        "devices",
        "open",
        std::string("connect:") + kBaud,
        std::string("init:") + kEcuAddress,
        "kline-probe",
        "traffic:KWP71",
        "battery",
        "faults",
        "live-data",
        std::string("safe-function:") + kVerifiedFunction,
        std::string("actuator:") + kActuatorBlock,
        std::string("clear-faults:") + kClearFaults,
        "close",
        "log",
    };
}

std::vector<Step> demo_steps(const std::string& library_path) {
    std::vector<Step> steps;
    for (const std::string& written : demo_step_texts()) steps.push_back(parse_step(written, library_path));
    return steps;
}

}  // namespace vxdiag
