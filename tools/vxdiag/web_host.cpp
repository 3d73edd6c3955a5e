#include "web_host.h"

#include "console_output.h"
#include "json_members.h"
#include "library_check.h"
#include "obd_decode.h"
#include "result_format.h"
#include "web_guard.h"

#include <utility>

namespace vxdiag {

namespace {

WebAnswer json_answer(int status, const Json& body) {
    return {status, body.dump(-1, ' ', false, Json::error_handler_t::replace)};
}

WebAnswer error_answer(int status, const std::string& message) { return json_answer(status, {{"error", message}}); }

Json code_list(const std::optional<std::vector<std::string>>& codes) { return codes ? Json(*codes) : Json(); }

Json pid_list(const std::optional<std::vector<unsigned>>& pids) { return pids ? Json(*pids) : Json(); }

// The page's view of a step: what the command line's line says, plus the
// result itself and the decoded codes and PIDs for its windows.
Json record_json(const StepRecord& record, bool device_open) {
    const Outcome& outcome = record.outcome;
    const Facts facts = outcome_facts(outcome, record.judgement);
    Json page = {
        {"step", outcome.step.as_written},
        {"call", call_text(outcome.step)},
        {"verdict", verdict_name(record.judgement.verdict)},
        {"reason", record.judgement.reason},
        {"facts", facts.items},
        {"details", facts.details},
        {"notes", record.notes},
        {"seconds", outcome.seconds},
        {"deviceOpen", device_open},
    };
    page["result"] = outcome.result.is_object() ? outcome.result : Json();
    if (!outcome.result.is_object()) page["text"] = outcome.text;
    const std::vector<std::string> replies = reply_hexes(outcome.result, "rx");
    if (outcome.step.kind == StepKind::Faults) page["troubleCodes"] = code_list(stored_trouble_codes(replies));
    if (outcome.step.kind == StepKind::LiveData) page["supportedPids"] = pid_list(supported_pids(replies));
    return page;
}

}  // namespace

WebHost::WebHost(const CoreLibrary& core, std::string library, Clock::duration idle)
    : session_(core, SessionOptions{}, library), default_library_(std::move(library)), idle_(idle) {}

WebAnswer WebHost::claim(Clock::time_point now) {
    if (std::optional<WebAnswer> refusal = claim_refusal(now)) return *refusal;
    const std::scoped_lock lock(device_mutex_);  // after the running export
    const std::scoped_lock state(state_mutex_);
    if (std::optional<WebAnswer> refusal = claim_refusal_locked(now)) return *refusal;
    // A page that went idle may still hold the device because the idle check
    // has not come round yet: its session ends here, so the new page starts on
    // a closed device and inherits no channel or ECU initialisation.
    if (!owner_.empty()) end_session_locked();
    owner_ = random_token();
    last_seen_ = now;
    const bool simulated = passthru_library_kind(default_library_) == PassThruLibraryKind::SimulatedVci;
    return json_answer(200, {{"session", owner_}, {"library", default_library_}, {"simulatedVci", simulated}});
}

// A claim is refused while another page is active or the server is stopping;
// asked before and again after waiting for the running export.
std::optional<WebAnswer> WebHost::claim_refusal(Clock::time_point now) {
    const std::scoped_lock state(state_mutex_);
    return claim_refusal_locked(now);
}

std::optional<WebAnswer> WebHost::claim_refusal_locked(Clock::time_point now) const {
    if (stopping_) return error_answer(503, "vxdiag serve is stopping");
    if (!owner_.empty() && now - last_seen_ < idle_) {
        return json_answer(409, {{"error", "the device is in use by another page"}, {"inUse", true}});
    }
    return std::nullopt;
}

bool WebHost::owned_by(std::string_view session, Clock::time_point now) {
    const std::scoped_lock lock(state_mutex_);
    if (owner_.empty() || session != owner_) return false;
    last_seen_ = now;
    return true;
}

WebAnswer WebHost::step(std::string_view session, std::string_view body, Clock::time_point now) {
    if (!owned_by(session, now)) {
        return json_answer(409, {{"error", "this page does not own the device (another page does, or it was idle)"},
                                 {"inUse", true}});
    }
    const Json request = Json::parse(body, nullptr, false);
    if (!request.is_object() || !request.contains("step") || !request["step"].is_string()) {
        return error_answer(400, "the request is no JSON object with a member \"step\"");
    }
    Step parsed;
    try {
        parsed = parse_step(request["step"].get<std::string>());
    } catch (const UsageError& error) {
        return error_answer(400, error.what());
    }
    // The page opens the default library or a registered one, never a path
    // it makes up: a library is code that vxdiag would load and run.
    if (parsed.kind == StepKind::Open && !parsed.text.empty()) {
        return error_answer(400, "the page opens the bundled library or a registered one, not a path");
    }
    const std::scoped_lock lock(device_mutex_);
    {
        const std::scoped_lock state(state_mutex_);
        if (stopping_) return error_answer(503, "vxdiag serve is stopping: no further step runs");
    }
    if (parsed.kind == StepKind::Open) {
        const std::string device = text_of(request, "device");
        try {
            parsed.text = device.empty() ? default_library_ : session_.choose_registered_library(device);
        } catch (const UsageError& error) {
            return error_answer(400, error.what());
        }
    }
    WebAnswer answer = run(parsed);
    const std::scoped_lock state(state_mutex_);
    if (session == owner_) last_seen_ = Clock::now();
    return answer;
}

WebAnswer WebHost::run(const Step& step) {
    const StepRecord record = session_.execute(step);
    if (step.kind != StepKind::Log) {  // the page reads the log after every step
        print_line(describe(record.outcome, record.judgement, Style{}).line);
        stdout_ok();
    }
    return json_answer(200, record_json(record, session_.device_open()));
}

WebAnswer WebHost::release(std::string_view session) {
    {
        const std::scoped_lock state(state_mutex_);
        if (owner_.empty() || session != owner_) return json_answer(200, {{"released", false}});
    }
    const std::scoped_lock lock(device_mutex_);  // after the running export
    const std::scoped_lock state(state_mutex_);
    if (session != owner_) return json_answer(200, {{"released", false}});
    end_session_locked();
    return json_answer(200, {{"released", true}});
}

void WebHost::end_idle_session(Clock::time_point now) {
    {
        const std::scoped_lock state(state_mutex_);
        if (owner_.empty() || now - last_seen_ < idle_) return;
    }
    const std::scoped_lock lock(device_mutex_);
    const std::scoped_lock state(state_mutex_);
    if (owner_.empty() || Clock::now() - last_seen_ < idle_) return;
    print_note("the page sent nothing for the idle time: its session ended");
    end_session_locked();
}

// With both locks held.
void WebHost::end_session_locked() {
    owner_.clear();
    if (session_.device_open()) run(parse_step("close"));
}

void WebHost::shut_down() {
    {
        const std::scoped_lock state(state_mutex_);
        stopping_ = true;
    }
    const std::scoped_lock lock(device_mutex_);  // the running export finishes first
    if (!session_.device_open()) return;
    const StepRecord record = session_.execute(parse_step("close"));
    print_line(describe(record.outcome, record.judgement, Style{}).line);
    print_line(as_detail("the device was left open: closed it before exiting"));
    stdout_ok();
}

}  // namespace vxdiag
