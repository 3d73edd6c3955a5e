// Turns a step's answer into what a person reads: one line with the verdict
// (ok, warn, fail), the export and the facts one looks for, plus indented
// detail lines where a list does not fit on it. Or, with --json, the result
// text exactly as it came back.
#pragma once

#include "result_facts.h"
#include "step_runner.h"
#include "step_verdict.h"
#include "terminal_style.h"

#include <string>
#include <vector>

namespace vxdiag {

struct Report {
    std::string line;                  // without a line end
    std::vector<std::string> details;  // further lines, already indented
};

Report describe(const Outcome& outcome, const Judgement& judgement, const Style& style);

// The facts of the step's line (and its detail lines, unindented), with the
// verdict's reason when the step is not ok; the page shows the same.
Facts outcome_facts(const Outcome& outcome, const Judgement& judgement);

// One JSON object text for --json: the export's result text unchanged; the
// exports without one are wrapped: {"simulation":true|false},
// {"coreVersion":"..."}, {"rawLog":"..."}.
std::string json_line(const Outcome& outcome);

// The export and its argument as the step's line shows them, e.g.
// "VX_TryFiveBaudInit(0x33)".
std::string call_text(const Step& step);

// How a detail line below a step's line is indented.
std::string as_detail(const std::string& text);

}  // namespace vxdiag
