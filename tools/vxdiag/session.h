// Runs a sequence of steps in this process, so that the core's state (the
// open device, the channel, the confirmed init, the block counter, the raw
// log) carries from one step to the next as it does in a desktop host.
//
// One way through: step -> runner (the export called once, its answer parsed
// once) -> verdict -> lines. The command line and the page of `vxdiag serve`
// both run their steps through a Session.
#pragma once

#include "core_library.h"
#include "step_catalogue.h"
#include "step_runner.h"
#include "step_verdict.h"
#include "terminal_style.h"

#include <string>
#include <vector>

namespace vxdiag {

struct SessionOptions {
    bool json = false;             // print each result text as it came back
    Style style;                   // colours of the readable lines
    bool stop_on_failure = false;  // stop at the first step that is not ok
    bool allow_warnings = false;   // a warning neither fails the run nor stops it
    bool progress = false;         // a live line on stderr while a long step runs
};

// One step as it ran: the step with its library resolved, what the export
// answered, and the verdict.
struct StepRecord {
    Outcome outcome;
    Judgement judgement;
    std::vector<std::string> notes;  // what vxdiag found out itself (why a library failed to load, ...)
};

class Session {
public:
    // `library` is the PassThru library an "open" without a path opens.
    Session(const CoreLibrary& core, const SessionOptions& options, std::string library);

    // --device: the library of that registration, from the core's list, which
    // then is the session's library. Throws UsageError.
    const std::string& choose_registered_library(const std::string& device);
    const std::string& library() const { return library_; }

    // Refuses (1, with a note) when the core lacks an export the steps call.
    // Else runs the steps, one report per step on stdout (notes and errors on
    // stderr). An interrupt request lets the running step finish and runs no
    // further step; a device left open (by an interrupt, a stop, or steps
    // without "close") is closed before returning. Returns the exit status: 0
    // when every step was ok (or only warned, with allow_warnings), 1
    // otherwise, 128 + the signal number after an interrupt request.
    int run(const std::vector<Step>& steps);

    // Runs one step and judges it, printing nothing. The device's state is
    // kept: device_open() says whether a "close" is owed.
    StepRecord execute(const Step& step);
    bool device_open() const { return device_open_; }

private:
    std::size_t run_planned(const std::vector<Step>& steps);
    bool counts_against(Verdict verdict) const;
    Verdict run_step(const Step& step, bool closing_for_the_user);
    void show(const StepRecord& record) const;
    void count(const Step& step, Verdict verdict);
    void print_summary(std::size_t not_run) const;
    int exit_status() const;

    const CoreLibrary& core_;
    StepRunner runner_;
    SessionOptions options_;
    std::string library_;
    std::size_t run_ = 0;
    std::size_t ok_ = 0;
    std::vector<std::string> warned_;
    std::vector<std::string> failed_;
    bool device_open_ = false;
    bool stopped_ = false;
};

// The exports the steps call that the core lacks, e.g. "VX_CoreVersion,
// VX_ReadFaults"; empty when it has them all.
std::string missing_exports(const CoreLibrary& core, const std::vector<Step>& steps);

}  // namespace vxdiag
