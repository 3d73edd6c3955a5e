// A host's session with the core (host_session.txt), as the reliability tests
// replay it, and the checks every raw log must pass whatever the device did.
#pragma once

#include <fstream>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "VXArvessaDiagCore.h"
#include "support/export_calls.h"

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

// The session of host_session.txt, its calls going to the device at device_path.
inline std::vector<ExportStep> host_session(const std::string& device_path) {
    std::vector<ExportStep> steps;
    std::ifstream file(VXDIAG_HOST_SESSION);
    for (std::string line; std::getline(file, line);) {
        const std::size_t bar = line.find(" | ");
        if (line.empty() || line[0] == '#' || bar == std::string::npos) continue;
        const std::string call = line.substr(bar + 3);
        const std::string name = call.substr(0, call.find(' '));
        std::string argument = name.size() < call.size() ? call.substr(name.size() + 1) : std::string();
        if (argument == "$SIM") argument = device_path;
        const AnswerKind kind = name == "VX_SetSimulation" ? AnswerKind::Zero
                                : name == "VX_CoreVersion" ? AnswerKind::Version
                                : name == "VX_GetLastLog"  ? AnswerKind::Log
                                                           : AnswerKind::Json;
        steps.push_back({line.substr(0, bar), kind, [name, argument](char* buffer, int size) {
                             return call_export(name, argument, buffer, size);
                         }});
    }
    EXPECT_FALSE(steps.empty()) << "no session read from " << VXDIAG_HOST_SESSION;
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
