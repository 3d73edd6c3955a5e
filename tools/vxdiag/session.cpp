#include "session.h"

#include "console_output.h"
#include "device_choice.h"
#include "host_console.h"
#include "json_members.h"
#include "library_check.h"
#include "progress_line.h"
#include "registration_notes.h"
#include "result_format.h"
#include "step_runner.h"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <algorithm>
#include <exception>
#include <string>
#include <utility>

namespace vxdiag {

namespace {

// The stage of the core's answer when the library or one of its required
// entry points could not be loaded; the answer gives no reason of its own.
constexpr const char* kLoadFailureStage = "LoadLibrary/GetProcAddress";

// Notes vxdiag adds to a step's report from what it finds out itself: why a
// PassThru library could not be loaded, where "devices" looked.
std::vector<std::string> host_notes(const Outcome& outcome) {
    const Json& result = outcome.result;
    if (!result.is_object()) return {};
    if (outcome.step.kind == StepKind::Open && text_of(result, "stage") == kLoadFailureStage) {
        const std::string reason = explain_passthru_library_failure(outcome.step.text);
        if (reason.empty()) return {};
        return {reason};
    }
    if (outcome.step.kind == StepKind::Devices && flag_of(result, "ok")) {
        const auto devices = result.find("devices");
        return registration_notes(devices == result.end() || !devices->is_array() || devices->empty());
    }
    return {};
}

std::string step_name(const Step& step) { return step.as_written.substr(0, step.as_written.find(':')); }

}  // namespace

std::string missing_exports(const CoreLibrary& core, const std::vector<Step>& steps) {
    std::vector<std::string> missing;
    for (const Step& step : steps) {
        const std::string name = step_info(step.kind).export_name;
        if (core.exports(name) || std::find(missing.begin(), missing.end(), name) != missing.end()) continue;
        missing.push_back(name);
    }
    return fmt::format("{}", fmt::join(missing, ", "));
}

Session::Session(const CoreLibrary& core, const SessionOptions& options, std::string library)
    : core_(core), runner_(core), options_(options), library_(std::move(library)) {}

const std::string& Session::choose_registered_library(const std::string& device) {
    if (!core_.exports("VX_ListJ2534Devices")) {
        throw UsageError("--device: the core library does not export VX_ListJ2534Devices");
    }
    library_ = choose_device(runner_.run(parse_step("devices")).result, device);
    return library_;
}

int Session::run(const std::vector<Step>& steps) {
    // Refuse before the first call rather than stop half-way through.
    if (const std::string missing = missing_exports(core_, steps); !missing.empty()) {
        print_note(fmt::format("the core library {} does not export {}", core_.path(), missing));
        vx::platform::interrupt_cleanup_finished();
        return 1;
    }
    std::size_t not_run = steps.size();
    try {
        not_run = steps.size() - run_planned(steps);
    } catch (const std::exception& error) {
        // Whatever went wrong in vxdiag itself, the device still gets closed.
        print_note(std::string("stopped: ") + error.what());
        failed_.emplace_back("vxdiag");
    }
    // A device must not stay open behind the process: its channel, and on
    // a real car whatever the ECU was told last, would outlive vxdiag.
    if (device_open_ && core_.exports("VX_CloseJ2534")) run_step(parse_step("close"), true);
    print_summary(not_run);
    vx::platform::interrupt_cleanup_finished();
    return exit_status();
}

// Runs the steps until the end, an interrupt request, a failed write or
// (-x) a step not ok; returns how many ran.
std::size_t Session::run_planned(const std::vector<Step>& steps) {
    for (std::size_t index = 0; index < steps.size(); ++index) {
        if (vx::platform::interrupt_exit_status() != 0 || !stdout_ok()) return index;
        const Verdict verdict = run_step(steps[index], false);
        if (options_.stop_on_failure && counts_against(verdict)) {
            stopped_ = index + 1 < steps.size();
            return index + 1;
        }
    }
    return steps.size();
}

bool Session::counts_against(Verdict verdict) const {
    return verdict == Verdict::Fail || (verdict == Verdict::Warn && !options_.allow_warnings);
}

StepRecord Session::execute(const Step& step) {
    Step resolved = step;
    if (resolved.kind == StepKind::Open && resolved.text.empty()) resolved.text = library_;
    StepRecord record;
    {
        const ProgressLine progress(call_text(resolved), options_.progress);
        record.outcome = runner_.run(resolved);
    }
    // Noted before anything else can go wrong, so the device gets closed.
    if (step.kind == StepKind::Open) device_open_ = device_open_ || flag_of(record.outcome.result, "ok");
    if (step.kind == StepKind::Close) device_open_ = false;
    record.judgement = judge(record.outcome);
    record.notes = host_notes(record.outcome);
    return record;
}

Verdict Session::run_step(const Step& step, bool closing_for_the_user) {
    StepRecord record = execute(step);
    if (closing_for_the_user) record.notes.emplace_back("the device was left open: closed it before exiting");
    show(record);
    count(step, record.judgement.verdict);
    return record.judgement.verdict;
}

void Session::show(const StepRecord& record) const {
    const Outcome& outcome = record.outcome;
    if (outcome.truncated) {
        print_note(fmt::format("the answer of {} was longer than the result buffer and is cut off",
                               step_info(outcome.step.kind).export_name));
    }
    if (options_.json) {
        for (const std::string& note : record.notes) print_note(note);
        print_line(json_line(outcome));
    } else {
        const Report report = describe(outcome, record.judgement, options_.style);
        print_line(report.line);
        for (const std::string& detail : report.details) print_line(detail);
        for (const std::string& note : record.notes) print_line(as_detail(note));
    }
    stdout_ok();
}

void Session::count(const Step& step, Verdict verdict) {
    ++run_;
    switch (verdict) {
        case Verdict::Ok: ++ok_; break;
        case Verdict::Warn: warned_.push_back(step_name(step)); break;
        case Verdict::Fail: failed_.push_back(step_name(step)); break;
    }
}

void Session::print_summary(std::size_t not_run) const {
    if (!stdout_ok()) {
        print_note(fmt::format("cannot write the output ({}); stopped, {} steps not run", stdout_error(), not_run));
        return;
    }
    if (options_.json) return;
    std::string summary = fmt::format("vxdiag: all {} steps ok", run_);
    if (!warned_.empty() || !failed_.empty()) {
        summary = fmt::format("vxdiag: {} steps: {} ok", run_, ok_);
        if (!warned_.empty()) summary += fmt::format(", {} warn ({})", warned_.size(), fmt::join(warned_, ", "));
        if (!failed_.empty()) summary += fmt::format(", {} failed ({})", failed_.size(), fmt::join(failed_, ", "));
    }
    if (vx::platform::interrupt_exit_status() != 0) {
        summary += fmt::format("; interrupted by {}, {} steps not run", vx::platform::interrupt_name(), not_run);
    } else if (stopped_) {
        summary += fmt::format("; stopped at the first step not ok, {} steps not run", not_run);
    }
    if (failed_.empty() && !warned_.empty() && options_.allow_warnings) summary += "; warnings allowed";
    const bool bad_end = !failed_.empty() || (!warned_.empty() && !options_.allow_warnings);
    print_line(bad_end && options_.style.colour ? bad(options_.style, summary) : summary);
    stdout_ok();
}

int Session::exit_status() const {
    if (const int status = vx::platform::interrupt_exit_status(); status != 0) return status;
    if (!stdout_ok() || !failed_.empty()) return 1;
    return warned_.empty() || options_.allow_warnings ? 0 : 1;
}

}  // namespace vxdiag
