#include "session.h"

#include "library_check.h"
#include "step_runner.h"

#include <fmt/format.h>
#include <fmt/ranges.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <string>

namespace vxdiag {

namespace {

// The stage of the core's answer when the library or one of its required
// entry points could not be loaded; the answer gives no reason of its own.
constexpr const char* kLoadFailureStage = "LoadLibrary/GetProcAddress";

bool library_load_failed(const Outcome& outcome) {
    if (outcome.step.kind != StepKind::Open) return false;
    const nlohmann::json result = nlohmann::json::parse(outcome.text, nullptr, false);
    if (!result.is_object()) return false;
    const auto stage = result.find("stage");
    return stage != result.end() && stage->is_string() && stage->get<std::string>() == kLoadFailureStage;
}

void print_line(const std::string& line) {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
}

}  // namespace

int run_session(const CoreLibrary& core, const std::vector<Step>& steps, const SessionOptions& options) {
    // Refuse before the first call rather than stop half-way through.
    std::vector<std::string> missing;
    for (const Step& step : steps) {
        const std::string name = step_info(step.kind).export_name;
        if (core.exports(name) || std::find(missing.begin(), missing.end(), name) != missing.end()) continue;
        missing.push_back(name);
    }
    if (!missing.empty()) {
        fmt::print(stderr, "vxdiag: the core library {} does not export {}\n", core.path(), fmt::join(missing, ", "));
        return 1;
    }

    StepRunner runner(core);
    std::string failed;
    std::size_t failures = 0;
    std::size_t run = 0;
    for (const Step& step : steps) {
        const Outcome outcome = runner.run(step);
        ++run;
        Report report = describe(outcome, options.style);
        if (library_load_failed(outcome)) {
            const std::string reason = explain_passthru_library_failure(step.text);
            if (!reason.empty()) {
                if (options.json) {
                    fmt::print(stderr, "vxdiag: {}\n", reason);
                } else {
                    report.details.push_back("      " + reason);
                }
            }
        }
        if (outcome.truncated) {
            fmt::print(stderr, "vxdiag: the answer of {} was longer than the result buffer and is cut off\n",
                       step_info(step.kind).export_name);
        }
        if (options.json) {
            print_line(json_line(outcome));
        } else {
            print_line(report.line);
            for (const std::string& detail : report.details) print_line(detail);
        }
        std::fflush(stdout);
        if (!report.ok) {
            ++failures;
            failed += failed.empty() ? "" : ", ";
            failed += step.as_written.substr(0, step.as_written.find(':'));
            if (options.stop_on_failure) break;
        }
    }

    if (!options.json) {
        if (failures == 0) {
            print_line(fmt::format("vxdiag: all {} steps answered ok", run));
        } else {
            std::string summary = fmt::format("vxdiag: {} of {} steps did not answer ok: {}", failures, run, failed);
            if (run < steps.size()) summary += fmt::format(" (stopped; {} steps not run)", steps.size() - run);
            print_line(options.style.colour ? bad(options.style, summary) : summary);
        }
    }
    return failures == 0 ? 0 : 1;
}

}  // namespace vxdiag
