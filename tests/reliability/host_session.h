// A host's session with the core, as the reliability tests replay it, and the
// checks every raw log must pass whatever the device did.
//
// The session calls every export in the order a host does: list the
// registered libraries, open the device, connect the ISO 9141 channel, wake
// the ECU, run the probes, take the readings, run the three commands and
// close; then, with simulation on after the close, the simulated answers,
// and finally the exports that may be called at any time.
#pragma once

#include <algorithm>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "VXArvessaDiagCore.h"

namespace vx::testing {

// What an export hands back.
enum class AnswerKind {
    Json,     // a JSON object in the buffer, its length returned
    Zero,     // VX_SetSimulation: 0, no text
    Version,  // VX_CoreVersion: a constant text (copied into the buffer by the step)
    Log,      // VX_GetLastLog: the raw log in the buffer, its length returned
};

struct ExportStep {
    std::string name;
    AnswerKind kind;
    // Calls the export with the result buffer and returns what it returned.
    std::function<int(char* buffer, int size)> call;
};

// The requests the command exports are given.
// A function mapped as verified: start frame, 400 ms run, stop frame.
inline constexpr char kVerifiedFunctionRequest[] =
    R"({"type":"actuator","name":"Idle valve","mode":"verified","startHex":"30 01","stopHex":"30 00","maxRunMs":400,"timeoutMs":700})";
// A function the host has not verified: the read-only probe runs instead.
inline constexpr char kUnverifiedFunctionRequest[] =
    R"({"type":"actuator","name":"Fan relay","mode":"candidate","startHex":"31 02","timeoutMs":300})";
inline constexpr char kActuatorRequest[] =
    R"({"name":"Fan","mode":"kwp71-command-data","commandType":"04","payloadHex":"01 02","timeoutMs":500})";
inline constexpr char kClearFaultsRequest[] = R"({"name":"Clear DTC","clearHex":"14 FF 00","stopHex":"82"})";

inline std::vector<ExportStep> host_session(const std::string& device_path) {
    using K = AnswerKind;
    std::vector<ExportStep> steps;
    auto json = [&steps](std::string name, std::function<int(char*, int)> call) {
        steps.push_back({std::move(name), K::Json, std::move(call)});
    };
    json("VX_ListJ2534Devices", [](char* b, int n) { return VX_ListJ2534Devices(b, n); });
    json("VX_OpenJ2534Dll", [device_path](char* b, int n) { return VX_OpenJ2534Dll(device_path.c_str(), b, n); });
    json("VX_TestIso9141Connect 10400", [](char* b, int n) { return VX_TestIso9141Connect(10400, b, n); });
    json("VX_TryFiveBaudInit 0x33", [](char* b, int n) { return VX_TryFiveBaudInit(0x33, b, n); });
    json("VX_KLineActivityProbe", [](char* b, int n) { return VX_KLineActivityProbe(b, n); });
    json("VX_ProtocolTrafficProbe KWP71", [](char* b, int n) { return VX_ProtocolTrafficProbe("KWP71", b, n); });
    json("VX_ProtocolTrafficProbe ISO9141", [](char* b, int n) { return VX_ProtocolTrafficProbe("ISO9141", b, n); });
    json("VX_ReadBatteryVoltage", [](char* b, int n) { return VX_ReadBatteryVoltage(b, n); });
    json("VX_ReadFaults", [](char* b, int n) { return VX_ReadFaults(nullptr, b, n); });
    json("VX_ReadLiveData", [](char* b, int n) { return VX_ReadLiveData(nullptr, b, n); });
    json("VX_RunSafeFunction verified", [](char* b, int n) { return VX_RunSafeFunction(kVerifiedFunctionRequest, b, n); });
    json("VX_RunSafeFunction unverified", [](char* b, int n) { return VX_RunSafeFunction(kUnverifiedFunctionRequest, b, n); });
    json("VX_RunActuatorKwp71", [](char* b, int n) { return VX_RunActuatorKwp71(kActuatorRequest, b, n); });
    json("VX_ClearFaultMemory", [](char* b, int n) { return VX_ClearFaultMemory(kClearFaultsRequest, b, n); });
    json("VX_CloseJ2534", [](char* b, int n) { return VX_CloseJ2534(b, n); });
    // Simulation is on after the close.
    json("VX_TestIso9141Connect simulated", [](char* b, int n) { return VX_TestIso9141Connect(0, b, n); });
    json("VX_TryFiveBaudInit simulated", [](char* b, int n) { return VX_TryFiveBaudInit(0x11, b, n); });
    json("VX_KLineActivityProbe simulated", [](char* b, int n) { return VX_KLineActivityProbe(b, n); });
    json("VX_ProtocolTrafficProbe simulated", [](char* b, int n) { return VX_ProtocolTrafficProbe(nullptr, b, n); });
    json("VX_ReadBatteryVoltage simulated", [](char* b, int n) { return VX_ReadBatteryVoltage(b, n); });
    json("VX_ReadFaults simulated", [](char* b, int n) { return VX_ReadFaults(nullptr, b, n); });
    json("VX_ReadLiveData simulated", [](char* b, int n) { return VX_ReadLiveData(nullptr, b, n); });
    json("VX_RunSafeFunction simulated", [](char* b, int n) { return VX_RunSafeFunction(kVerifiedFunctionRequest, b, n); });
    json("VX_RunActuatorKwp71 simulated", [](char* b, int n) { return VX_RunActuatorKwp71(kActuatorRequest, b, n); });
    json("VX_ClearFaultMemory simulated", [](char* b, int n) { return VX_ClearFaultMemory(nullptr, b, n); });
    steps.push_back({"VX_SetSimulation 0", K::Zero, [](char*, int) { return VX_SetSimulation(0); }});
    // Simulation off with the placeholder channel of the simulated connect and
    // no device: the exports must not reach for a library that is not there.
    json("VX_RunSafeFunction without device", [](char* b, int n) { return VX_RunSafeFunction(kVerifiedFunctionRequest, b, n); });
    json("VX_ReadFaults without device", [](char* b, int n) { return VX_ReadFaults(nullptr, b, n); });
    json("VX_CloseJ2534 again", [](char* b, int n) { return VX_CloseJ2534(b, n); });
    steps.push_back({"VX_SetSimulation 1", K::Zero, [](char*, int) { return VX_SetSimulation(1); }});
    steps.push_back({"VX_CoreVersion", K::Version, [](char* b, int n) {
                         const std::string_view text = VX_CoreVersion();
                         if (b != nullptr && n > 0) {
                             const std::size_t kept = std::min(text.size(), static_cast<std::size_t>(n - 1));
                             text.copy(b, kept);
                             b[kept] = '\0';
                         }
                         return static_cast<int>(text.size());
                     }});
    steps.push_back({"VX_GetLastLog", K::Log, [](char* b, int n) { return VX_GetLastLog(b, n); }});
    return steps;
}

// The one raw-log line that ends with LF alone: the simulated fault read's.
inline constexpr std::string_view kLfOnlyLineText = " VX_ReadFaults simulation - no decoded fault rows returned yet";

// "YYYY-MM-DD hh:mm:ss" at text[at].
inline bool timestamp_at(std::string_view text, std::size_t at) {
    constexpr std::string_view shape = "dddd-dd-dd dd:dd:dd";
    if (text.size() < at + shape.size()) return false;
    for (std::size_t i = 0; i < shape.size(); ++i) {
        const char c = text[at + i];
        if (shape[i] == 'd' ? (c < '0' || c > '9') : c != shape[i]) return false;
    }
    return true;
}

// Empty when every line of the log is whole: a 19-character timestamp, a
// text that begins with a blank and holds no other timestamp, then CR LF (or
// LF alone for the simulated fault read); otherwise what is wrong and where.
inline std::string raw_log_fault(std::string_view log) {
    std::size_t start = 0;
    std::size_t number = 1;
    while (start < log.size()) {
        const std::size_t lf = log.find('\n', start);
        const std::string where = "line " + std::to_string(number) + " at byte " + std::to_string(start) + ": ";
        if (lf == std::string_view::npos) return where + "the log ends inside a line";
        const std::string_view line = log.substr(start, lf + 1 - start);
        if (!timestamp_at(line, 0)) return where + "no timestamp: " + std::string(line.substr(0, 40));
        if (line.size() < 21 || line[19] != ' ') return where + "no blank after the timestamp";
        const bool crlf = line.size() >= 21 && line[line.size() - 2] == '\r';
        const std::string_view text = line.substr(19, line.size() - 19 - (crlf ? 2 : 1));
        if (!crlf && text != kLfOnlyLineText) return where + "ends with LF alone: " + std::string(text.substr(0, 60));
        for (std::size_t i = 1; i < text.size(); ++i) {
            if (timestamp_at(text, i)) return where + "a second line begins inside it: " + std::string(text.substr(0, 80));
        }
        if (text.find('\r') != std::string_view::npos) return where + "a stray CR inside it";
        start = lf + 1;
        ++number;
    }
    return {};
}

}  // namespace vx::testing
