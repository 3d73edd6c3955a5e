// Runs a sequence of steps in this process, so that the core's state (the
// open device, the channel, the confirmed init, the block counter, the raw
// log) carries from one step to the next as it does in a desktop host.
#pragma once

#include "core_library.h"
#include "result_format.h"
#include "step_catalogue.h"

#include <vector>

namespace vxdiag {

struct SessionOptions {
    bool json = false;             // print each result text as it came back
    Style style;                   // colours of the readable lines
    bool stop_on_failure = false;  // stop at the first step that is not ok
};

// Prints one report per step on stdout (notes and errors on stderr) and
// returns the exit status: 0 when every step answered ok, else 1.
int run_session(const CoreLibrary& core, const std::vector<Step>& steps, const SessionOptions& options);

}  // namespace vxdiag
