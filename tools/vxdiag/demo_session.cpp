#include "demo_session.h"

namespace vxdiag {

namespace {

// The bundled simulated vehicle has two ECUs on one K-line. The OBD engine ECU
// (ISO 9141-2) wakes at 0x33 and answers the fault and live-data reads (mode
// 03 with its stored trouble codes, mode 01 PID 00); the KWP71 ECU wakes at
// 0x10 and answers the keepalive, the verified function, the actuator block
// and the clear block. KWP71 blocks are length, counter, title, data, end byte
// 03; titles 04 actuator test, 05 clear fault memory, 09 acknowledge.
constexpr const char* kObdEcuAddress = "0x33";
constexpr const char* kKwp71EcuAddress = "0x10";
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
        std::string("init:") + kObdEcuAddress,
        "battery",
        "faults",
        "live-data",
        std::string("init:") + kKwp71EcuAddress,
        "kline-probe",
        "traffic:KWP71",
        std::string("safe-function:") + kVerifiedFunction,
        std::string("actuator:") + kActuatorBlock,
        std::string("clear-faults:") + kClearFaults,
        "close",
        "log",
    };
}

std::vector<Step> demo_steps() {
    std::vector<Step> steps;
    for (const std::string& written : demo_step_texts()) steps.push_back(parse_step(written));
    return steps;
}

}  // namespace vxdiag
