#include "step_verdict.h"

#include "json_members.h"
#include "obd_decode.h"
#include "result_facts.h"

#include <utility>

namespace vxdiag {

namespace {

Judgement warn_because(std::string reason) { return {Verdict::Warn, std::move(reason)}; }

bool transmits_on_the_kline(StepKind kind) {
    switch (kind) {
        case StepKind::Connect:
        case StepKind::Init:
        case StepKind::KLineProbe:
        case StepKind::TrafficProbe:
        case StepKind::Battery:
        case StepKind::Faults:
        case StepKind::LiveData:
        case StepKind::SafeFunction:
        case StepKind::Actuator:
        case StepKind::ClearFaults:
            return true;
        case StepKind::Devices:
        case StepKind::Open:
        case StepKind::Close:
        case StepKind::Simulation:
        case StepKind::Version:
        case StepKind::Log:
            return false;
    }
    return false;
}

// A command achieved its purpose when its own frame went out (not the probe
// that stands in for it), a running function was stopped, and the ECU replied.
Judgement judge_command(const Json& j, StepKind kind) {
    if (const std::string reason = text_of(j, "fallbackReason"); !reason.empty()) {
        return warn_because("probe instead of the command: " + reason);
    }
    if (!flag_of(j, "commandSent")) return warn_because("command not sent");
    const bool stop_written = integer_of(j, "stopMessagesWritten").value_or(0) != 0;
    if (kind == StepKind::SafeFunction && j.contains("stopHex") && !stop_written) {
        return {Verdict::Fail, "stop frame not written: the function may still be running"};
    }
    if (!flag_of(j, "ecuResponseSeen")) return warn_because("no ECU reply");
    return {};
}

Judgement judge_result(const Json& j, StepKind kind) {
    if (transmits_on_the_kline(kind) && simulated(j)) return warn_because("simulated by the core, nothing sent");
    const std::vector<std::string> replies = reply_hexes(j, "rx");
    switch (kind) {
        case StepKind::Init:
            if (!flag_of(j, "initOk")) return warn_because("not confirmed");
            break;
        case StepKind::KLineProbe:
            if (!flag_of(j, "physicalTxConfirmed")) return warn_because("no K-line TX confirmed");
            break;
        case StepKind::TrafficProbe:
            if (replies.empty()) return warn_because("no reply");
            break;
        case StepKind::Battery:
            if (!flag_of(j, "available")) return warn_because("battery voltage not available");
            break;
        case StepKind::Faults:
            if (!stored_trouble_codes(replies)) return warn_because(fault_memory_fact(replies));
            break;
        case StepKind::LiveData:
            if (!supported_pids(replies)) return warn_because(supported_pids_fact(replies));
            break;
        case StepKind::SafeFunction:
        case StepKind::Actuator:
        case StepKind::ClearFaults:
            return judge_command(j, kind);
        default:  // the rest achieved their purpose when they answered "ok":true
            break;
    }
    return {};
}

}  // namespace

Judgement judge(const Outcome& outcome) {
    switch (outcome.step.kind) {
        case StepKind::Simulation:
        case StepKind::Log:
            return {};
        case StepKind::Version:
            if (outcome.text.empty()) return {Verdict::Fail, "no identification text"};
            return {};
        default: break;
    }
    if (outcome.truncated) return {Verdict::Fail, "the result was longer than the buffer and is cut off"};
    const Json& result = outcome.result;
    if (!result.is_object()) return {Verdict::Fail, "the result is not a JSON object: " + outcome.text};
    if (!flag_of(result, "ok")) return {Verdict::Fail, {}};
    try {
        return judge_result(result, outcome.step.kind);
    } catch (const Json::exception&) {
        return {Verdict::Fail, "the result has a member of an unexpected type"};
    }
}

const char* verdict_name(Verdict verdict) {
    switch (verdict) {
        case Verdict::Ok: return "ok";
        case Verdict::Warn: return "warn";
        case Verdict::Fail: return "fail";
    }
    return "fail";
}

}  // namespace vxdiag
