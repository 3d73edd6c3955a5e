// Runs a sequence of steps in this process, so that the core's state (the
// open device, the channel, the confirmed init, the block counter, the raw
// log) carries from one step to the next as it does in a desktop host.
#pragma once

#include "core_library.h"
#include "step_catalogue.h"
#include "terminal_style.h"

#include <vector>

namespace vxdiag {

struct SessionOptions {
    bool json = false;             // print each result text as it came back
    Style style;                   // colours of the readable lines
    bool stop_on_failure = false;  // stop at the first step that is not ok
    bool allow_warnings = false;   // a warning neither fails the run nor stops it
    bool progress = false;         // a live line on stderr while a long step runs
};

// Prints one report per step on stdout (notes and errors on stderr). An
// interrupt request lets the running step finish and runs no further step; a
// device left open (by an interrupt, a stop, or steps without "close") is
// closed before returning. Returns the exit status: 0 when every step was ok
// (or only warned, with allow_warnings), 1 otherwise, 128 + the signal
// number after an interrupt request.
int run_session(const CoreLibrary& core, const std::vector<Step>& steps, const SessionOptions& options);

}  // namespace vxdiag
