// Calls the core export behind one step and keeps what it answered.
#pragma once

#include "core_library.h"
#include "json_members.h"
#include "step_catalogue.h"

#include <string>
#include <vector>

namespace vxdiag {

struct Outcome {
    Step step;
    // The result text exactly as the export wrote it; for "version" the
    // identification text, for "log" the raw log, for "simulation" empty.
    std::string text;
    // The export's result was longer than the buffer offered to it.
    bool truncated = false;
    double seconds = 0.0;  // wall time of the call
    // The result text parsed once, here, for everything that reads it (the
    // verdict, the lines, the page); a discarded value when the text is no
    // JSON and for the steps that answer no JSON (version, log, simulation).
    Json result = Json(Json::value_t::discarded);
};

class StepRunner {
public:
    explicit StepRunner(const CoreLibrary& core);

    // Runs the step once. Each export is called exactly once: a second call
    // would repeat its traffic on the line.
    Outcome run(const Step& step);

private:
    const CoreApi& api_;
    std::vector<char> buffer_;
};

}  // namespace vxdiag
