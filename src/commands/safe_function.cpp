// VX_RunSafeFunction: runs one ECU function that the host mapped to raw start
// and stop frames. Transmits them only for a verified mapping on a confirmed
// ECU initialisation; every other click runs the read-only backend-forward
// probe so that it still exercises and reports the physical path.
#include "commands/safe_function.h"

#include "commands/command_gate.h"
#include "core/raw_log.h"

namespace vx::commands {

namespace {

constexpr GateProfile kSafeFunctionProfile{
    .timeout_default_ms = 1000,
    .reads_max_run = true,
    .not_connected_log = " FunctionExecution blocked - no ISO9141 channel name=",
    .fallback_log = " BUILD322 FunctionExecution fallback physical TX probe because ECU init not confirmed name=",
    .fallback_log_shows_mode = true,
    .probe_kind = std::nullopt,
    .fallback_reason = "ECU init not confirmed - read-only TX/RX audit probe sent",
};

// Per-read time-out of the reply collections after the start and stop frames
// (the host's contract).
constexpr std::uint32_t kReplyReadTimeoutMs = 250;

bool contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

// Whether the text just before position `at` negates the word that starts
// there: "un", "non" or "not", directly or through one '-', ' ' or '_'
// ("unverified", "non-verified", "not verified").
bool negated_at(std::string_view mode, std::size_t at) {
    std::string_view before = mode.substr(0, at);
    if (!before.empty() && (before.back() == '-' || before.back() == ' ' || before.back() == '_')) {
        before.remove_suffix(1);
    }
    return before.ends_with("un") || before.ends_with("non") || before.ends_with("not");
}

// The verified class of a lowercased mode: it names "verified" or "mapped",
// and never in a negated form. A host that writes "unverified" or "unmapped"
// means the opposite of verified, so any negated occurrence keeps the frames
// off the line, whatever else the mode says.
bool verified_mode_class(std::string_view mode) {
    bool named = false;
    for (const std::string_view word : {std::string_view("verified"), std::string_view("mapped")}) {
        for (std::size_t at = mode.find(word); at != std::string_view::npos; at = mode.find(word, at + 1)) {
            if (negated_at(mode, at)) return false;
            named = true;
        }
    }
    return named;
}

struct Frames {
    Bytes start;
    bool has_start = false;
    Bytes stop;
    bool has_stop = false;
};

std::string simulation_answer(const GateRequest& gate) {
    ResultWriter w;
    w.raw("{\"ok\":true,\"stage\":\"simulation\",\"simulation\":true,\"commandSent\":false,\"noTx\":true,\"type\":\"")
        .text(gate.type);
    w.raw("\",\"name\":\"").text(gate.name);
    w.raw("\",\"message\":\"Simulation completed. No vehicle command was transmitted.\"}");
    log_line(" FunctionExecution simulation " + gate.type + " name=" + gate.name + " mode=" + gate.mode);
    return w.take();
}

// Why a click that reached the device still gets the probe instead of its
// frames; nothing when the frames may go out.
std::optional<std::string_view> fallback_reason(const RequestFields& request, const GateRequest& gate,
                                                bool has_start) {
    const bool verified_mode = verified_mode_class(gate.mode);
    if (!has_start) return "no verified startHex";
    if (request.flag("backendForwardFallbackProbe") || contains(gate.mode, "preflight") ||
        contains(gate.mode, "no-tx")) {
        return verified_mode ? "fallback requested" : "unverified mode";
    }
    if (!verified_mode) return "unverified mode";
    return std::nullopt;
}

std::string fallback_answer(const GateRequest& gate, const j2534::VbattReading& vbatt, std::string_view reason,
                            bool has_start) {
    ResultWriter members;
    j2534::append_vbatt_capture(members, vbatt);
    std::string result = fallback_probe_answer(gate.type, gate, members.str(), reason);
    log_line(" BUILD322 FunctionExecution fallback physical TX probe name=" + gate.name + " mode=" + gate.mode +
             " hasStart=" + (has_start ? "1" : "0"));
    return result;
}

// The start frame, its replies, the run time and the stop frame. From the
// start frame on the function may be running on the ECU: the stop frame
// follows even a failed start write, and nothing may allocate between the
// start frame and the stop frame's write except the start replies, whose
// failure still sends the stop frame before it is reported.
std::string run_verified(const GateRequest& gate, const Frames& frames, const j2534::VbattReading& vbatt) {
    const FrameWrite start_write = clear_and_send_frame(frames.start, gate.timeout_ms);
    RxList start_replies;
    try {
        start_replies = collect_replies(kReplyReadTimeoutMs);
    } catch (...) {
        if (frames.has_stop) {
            pause_ms(gate.max_run_ms);
            static_cast<void>(send_frame(frames.stop, gate.timeout_ms));
        }
        throw;
    }
    FrameWrite stop_write;
    RxList stop_replies;
    if (frames.has_stop) {
        pause_ms(gate.max_run_ms);
        stop_write = send_frame(frames.stop, gate.timeout_ms);
        stop_replies = collect_replies(kReplyReadTimeoutMs);
    }
    // ecuResponseSeen and rxCount count the replies to both frames; rx lists
    // the start frame's.
    start_replies.count += stop_replies.count;
    const bool ok = start_write.sent() && (!frames.has_stop || stop_write.sent());

    ResultWriter w;
    append_command_head(w, ok, "verified-command", start_write.sent(), start_replies.count);
    append_command_write(w, start_write, frames.start, start_replies);
    j2534::append_vbatt_capture(w, vbatt);
    if (frames.has_stop) append_stop_outcome(w, stop_write, &frames.stop, stop_replies.json);
    append_command_message(w, ok ? "Verified command transmitted. Check ECU response/result and vehicle reaction."
                                 : "Command transmit failed or stop command failed. See Raw Log.");
    std::string result = w.take();
    log_line(" FunctionExecution verified name=" + gate.name + " TX=" + hex_bytes_text(frames.start) +
             " wrRc=" + std::to_string(start_write.rc) + " rxCount=" + std::to_string(start_replies.count));
    return result;
}

}  // namespace

std::string run_safe_function(const char* request_text) {
    const RequestFields request(request_text);
    GateRequest gate(request, kSafeFunctionProfile);
    if (auto answer = answer_before_send(kSafeFunctionProfile, request, gate, [&] { return simulation_answer(gate); })) {
        return std::move(*answer);
    }

    Frames frames;
    frames.has_start = parse_hex_text(request.text("startHex"), frames.start);
    frames.has_stop = parse_hex_text(request.text("stopHex"), frames.stop);
    // Captured before the probe decision, so a probe fallback reports it too.
    const j2534::VbattReading vbatt = j2534::read_vbatt();
    if (const auto reason = fallback_reason(request, gate, frames.has_start)) {
        return fallback_answer(gate, vbatt, *reason, frames.has_start);
    }
    return run_verified(gate, frames, vbatt);
}

}  // namespace vx::commands
