// Whether a step achieved its purpose, not only whether the export answered
// "ok":true: an initialisation that no ECU confirmed, a voltage the VCI could
// not measure or a read that no ECU answered is a warning; an export that
// answered "ok":false (or no result at all) is a failure. The README's table
// "What counts as warn" lists the rules.
#pragma once

#include "step_runner.h"

#include <string>

namespace vxdiag {

enum class Verdict { Ok, Warn, Fail };

struct Judgement {
    Verdict verdict = Verdict::Ok;
    std::string reason;  // why it is not ok, for the step's line; empty when ok
};

Judgement judge(const Outcome& outcome);

// "ok", "warn", "fail"
const char* verdict_name(Verdict verdict);

}  // namespace vxdiag
