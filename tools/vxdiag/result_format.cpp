#include "result_format.h"

#include "json_members.h"
#include "result_facts.h"

#include <fmt/format.h>

namespace vxdiag {

namespace {

constexpr std::size_t kCallColumnWidth = 38;

bool said_in(const std::vector<std::string>& texts, const std::string& what) {
    for (const std::string& text : texts) {
        if (text.find(what) != std::string::npos) return true;
    }
    return false;
}

void add_unless_said(Facts& facts, const std::string& what) {
    if (!what.empty() && !said_in(facts.items, what) && !said_in(facts.details, what)) facts.items.push_back(what);
}

Facts log_facts(const std::string& log) {
    Facts facts;
    std::size_t start = 0;
    while (start < log.size()) {
        std::size_t end = log.find('\n', start);
        if (end == std::string::npos) end = log.size();
        std::string line = log.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        facts.details.push_back("  " + line);
        start = end + 1;
    }
    facts.items.push_back(fmt::format("raw log, {} lines", facts.details.size()));
    return facts;
}

Facts json_facts(const Outcome& outcome, const Judgement& judgement) {
    const Json& result = outcome.result;
    if (!result.is_object()) return {};  // the verdict's reason says why
    Facts facts;
    try {
        facts = result_facts(result, outcome.step);
    } catch (const Json::exception&) {
        facts = {};  // an unexpected member type: fall back to the message below
    }
    std::string reason = text_of(result, "error");
    if (reason.empty()) reason = text_of(result, "message");
    if (reason.empty()) reason = text_of(result, "note");
    const std::string stage = text_of(result, "stage");
    if ((facts.items.empty() || judgement.verdict == Verdict::Fail) && !reason.empty() &&
        !said_in(facts.items, reason) && !said_in(facts.details, reason)) {
        facts.items.push_back(stage.empty() ? reason : stage + ": " + reason);
    }
    return facts;
}

Facts facts_of(const Outcome& outcome, const Judgement& judgement) {
    switch (outcome.step.kind) {
        case StepKind::Simulation: return {{outcome.step.number != 0 ? "simulation on" : "simulation off"}, {}};
        case StepKind::Version: return {{outcome.text}, {}};
        case StepKind::Log: return log_facts(outcome.text);
        default: return json_facts(outcome, judgement);
    }
}

std::string request_name(const std::string& request_text) {
    const Json request = parse_json(request_text);
    const std::string name = request.is_object() ? text_of(request, "name") : std::string();
    return name.empty() ? "{...}" : name;
}

std::string call_argument(const Step& step) {
    switch (step.kind) {
        case StepKind::Open: {
            const std::size_t slash = step.text.find_last_of("/\\");
            return slash == std::string::npos ? step.text : step.text.substr(slash + 1);
        }
        case StepKind::Connect: return fmt::format("{}", step.number);
        case StepKind::Init: return fmt::format("0x{:02X}", step.number);
        case StepKind::TrafficProbe: return "\"" + step.text + "\"";
        case StepKind::SafeFunction:
        case StepKind::Actuator:
        case StepKind::ClearFaults: return request_name(step.text);
        case StepKind::Simulation: return step.number != 0 ? "1" : "0";
        case StepKind::Devices:
        case StepKind::Close:
        case StepKind::KLineProbe:
        case StepKind::Battery:
        case StepKind::Faults:
        case StepKind::LiveData:
        case StepKind::Version:
        case StepKind::Log:
            break;
    }
    return {};
}

std::string verdict_column(const Style& style, Verdict verdict) {
    switch (verdict) {
        case Verdict::Ok: return good(style, "ok  ");
        case Verdict::Warn: return warn(style, "warn");
        case Verdict::Fail: return bad(style, "fail");
    }
    return "fail";
}

std::string joined(const std::vector<std::string>& parts) {
    std::string text;
    for (const std::string& part : parts) {
        if (part.empty()) continue;
        if (!text.empty()) text += ", ";
        text += part;
    }
    return text;
}

}  // namespace

Facts outcome_facts(const Outcome& outcome, const Judgement& judgement) {
    Facts facts = facts_of(outcome, judgement);
    if (judgement.verdict != Verdict::Ok) add_unless_said(facts, judgement.reason);
    return facts;
}

Report describe(const Outcome& outcome, const Judgement& judgement, const Style& style) {
    Report report;
    const Facts facts = outcome_facts(outcome, judgement);

    std::string call = call_text(outcome.step);
    if (call.size() < kCallColumnWidth) call.resize(kCallColumnWidth, ' ');
    report.line = fmt::format("{} {} {}  {}", verdict_column(style, judgement.verdict), bold(style, call),
                              joined(facts.items), dim(style, fmt::format("({:.2f} s)", outcome.seconds)));
    for (const std::string& detail : facts.details) report.details.push_back(as_detail(detail));
    return report;
}

std::string call_text(const Step& step) {
    return std::string(step_info(step.kind).export_name) + "(" + call_argument(step) + ")";
}

std::string as_detail(const std::string& text) { return "      " + text; }

std::string json_line(const Outcome& outcome) {
    Json wrapped;
    switch (outcome.step.kind) {
        case StepKind::Simulation: wrapped["simulation"] = outcome.step.number != 0; break;
        case StepKind::Version: wrapped["coreVersion"] = outcome.text; break;
        case StepKind::Log: wrapped["rawLog"] = outcome.text; break;
        default: return outcome.text;
    }
    return wrapped.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace vxdiag
