#include "commands/command_gate.h"

#include <algorithm>

#include "core/raw_log.h"
#include "exchange/backend_forward_probe.h"
#include "j2534/status_text.h"
#include "platform/clock.h"

namespace vx::commands {

namespace {

constexpr std::string_view kNotConnectedAnswer =
    "{\"ok\":false,\"stage\":\"not-connected\",\"commandSent\":false,\"noTx\":true,"
    "\"message\":\"Connect ECU first. No ISO9141/J2534 channel is open.\"}";

std::uint32_t clamp_ms(int value, int low, int high) { return static_cast<std::uint32_t>(std::clamp(value, low, high)); }

// Reads timeoutMs and, where the export reads it, maxRunMs; clamps both. Only
// what goes on past the simulation and channel checks needs them.
void read_gate_times(const RequestFields& request, const GateProfile& profile, GateRequest& out) {
    out.timeout_ms =
        clamp_ms(request.integer("timeoutMs", profile.timeout_default_ms), kTimeoutMinMs, kTimeoutMaxMs);
    if (profile.reads_max_run) {
        out.max_run_ms = clamp_ms(request.integer("maxRunMs", kMaxRunDefaultMs), kMaxRunMinMs, kMaxRunMaxMs);
    }
}

// The not-connected answer (same in all three exports) with the export's
// log line.
std::string not_connected_answer(const GateProfile& profile, const GateRequest& request) {
    log_line(std::string(profile.not_connected_log) + request.name);
    return std::string(kNotConnectedAnswer);
}

// The audit fallback: the probe with ecuInitConfirmed false and the export's
// fallbackReason, then the export's fallback log line after the probe's own.
std::string audit_fallback_answer(const GateProfile& profile, const GateRequest& request) {
    std::string result = fallback_probe_answer(profile.probe_kind.value_or(request.type), request,
                                               ",\"ecuInitConfirmed\":false", profile.fallback_reason);
    if (profile.fallback_log_shows_mode) {
        log_line(std::string(profile.fallback_log) + request.name + " mode=" + request.mode);
    } else {
        log_line(std::string(profile.fallback_log) + request.name);
    }
    return result;
}

}  // namespace

GateRequest::GateRequest(const RequestFields& request, const GateProfile& profile)
    : name(request.text("name")), mode(ascii_lowercase(request.text("mode"))) {
    if (!profile.probe_kind) type = request.text("type");
}

std::string fallback_probe_answer(std::string_view kind, const GateRequest& request, std::string_view members,
                                  std::string_view reason) {
    std::string result = run_function_fallback_probe(kind, request.name, request.timeout_ms);
    ResultWriter inserted;
    inserted.raw(members).raw(",\"fallbackReason\":\"").text(reason).raw("\"");
    insert_members(result, inserted.str());
    return result;
}

std::optional<std::string> answer_before_send(const GateProfile& profile, const RequestFields& fields,
                                              GateRequest& request,
                                              const std::function<std::string()>& simulation_answer) {
    if (simulation_on()) return simulation_answer();
    const j2534::DeviceState& state = j2534::device_state();
    if (state.channel_id == 0) return not_connected_answer(profile, request);
    read_gate_times(fields, profile, request);
    if (!state.ecu_init_confirmed) return audit_fallback_answer(profile, request);
    return std::nullopt;
}

FrameWrite send_frame(const Bytes& frame, std::uint32_t timeout_ms) {
    FrameWrite out;
    out.rc = write_frame(frame, 0, timeout_ms, out.written);
    return out;
}

FrameWrite clear_and_send_frame(const Bytes& frame, std::uint32_t timeout_ms) {
    static_cast<void>(clear_tx_rx_buffers());  // best effort; a stale queue only adds noise
    return send_frame(frame, timeout_ms);
}

RxList collect_replies(std::uint32_t per_read_timeout_ms) {
    return read_rx_list({.max_messages = kReplyMessagesMax, .timeout_ms = per_read_timeout_ms});
}

std::string command_refusal(std::string_view stage, std::string_view message) {
    ResultWriter w;
    w.raw("{\"ok\":false,\"stage\":\"").text(stage);
    w.raw("\",\"commandSent\":false,\"message\":\"").text(message).raw("\"}");
    return w.take();
}

void pause_ms(std::uint32_t milliseconds) {
    if (milliseconds > 0) platform::sleep_ms(milliseconds);
}

void append_stop_outcome(ResultWriter& w, const FrameWrite& write, const Bytes* frame, std::string_view rx) {
    w.raw(",\"stopRc\":").signed_number(write.rc);
    if (frame != nullptr) w.raw(",\"stopRcName\":\"").text(j2534::status_name(write.rc)).raw("\"");
    w.raw(",\"stopMessagesWritten\":").unsigned_number(write.written);
    if (frame != nullptr) w.raw(",\"stopHex\":\"").hex(*frame).raw("\",\"stopRx\":").raw(rx);
}

void append_command_head(ResultWriter& w, bool ok, std::string_view stage, bool command_sent, std::uint32_t rx_count) {
    w.raw("{\"ok\":").boolean(ok).raw(",\"stage\":\"").text(stage);
    w.raw("\",\"commandSent\":").boolean(command_sent).raw(",\"ecuResponseSeen\":").boolean(rx_count != 0);
}

void append_command_write(ResultWriter& w, const FrameWrite& write, const Bytes& frame, const RxList& replies) {
    append_write_report(w, {.rc = write.rc, .tx = frame, .written = write.written, .rx_count = replies.count,
                            .rx = replies.json});
}

void append_command_message(ResultWriter& w, std::string_view message) {
    w.raw(",\"message\":\"").text(message).raw("\"}");
}

}  // namespace vx::commands
