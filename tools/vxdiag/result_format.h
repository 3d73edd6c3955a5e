// Turns a step's answer into what a person reads: one line with the export,
// ok or not, and the facts one looks for (TX bytes, replies, statuses,
// voltage), plus indented detail lines where a list does not fit on it. Or,
// with --json, the result text exactly as it came back.
#pragma once

#include "step_runner.h"

#include <string>
#include <vector>

namespace vxdiag {

struct Style {
    bool colour = false;  // ANSI colours (only on a terminal, or when asked)
};

struct Report {
    bool ok = false;                   // the export answered "ok":true
    std::string line;                  // without a line end
    std::vector<std::string> details;  // further lines, already indented
};

// Whether the step answered ok: "ok":true in its result; the exports without
// a result text (simulation, version, log) count as ok when they answered.
bool step_ok(const Outcome& outcome);

Report describe(const Outcome& outcome, const Style& style);

// One JSON object text for --json: the export's result text unchanged; the
// exports without one are wrapped: {"simulation":true|false},
// {"coreVersion":"..."}, {"rawLog":"..."}.
std::string json_line(const Outcome& outcome);

// Colours a text for the terminal (bold, green, red, yellow, dim); plain when
// the style has no colour.
std::string bold(const Style& style, const std::string& text);
std::string good(const Style& style, const std::string& text);
std::string bad(const Style& style, const std::string& text);
std::string warn(const Style& style, const std::string& text);
std::string dim(const Style& style, const std::string& text);

}  // namespace vxdiag
