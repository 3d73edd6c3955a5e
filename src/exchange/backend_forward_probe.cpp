#include "exchange/backend_forward_probe.h"

#include <cstdint>

#include "core/raw_log.h"
#include "core/result_writer.h"
#include "exchange/frame_exchange.h"
#include "j2534/device_state.h"
#include "j2534/status_text.h"

namespace vx {

namespace {

constexpr std::string_view kNotConnectedResult =
    "{\"ok\":false,\"mode\":\"real-j2534-backend-forward\",\"stage\":\"not-connected\","
    "\"commandSent\":false,\"noTx\":true,"
    "\"message\":\"No J2534 channel/writer is open. Connect ECU first.\"}";
// The release marker hosts look for in every backend-forward result.
constexpr std::string_view kReleaseBuild = "BUILD322_TXRX_COMPLETE_RELEASE_NO_FAKE";
constexpr std::string_view kProbeMessage =
    "BUILD322 backend-forward physical TX/RX path executed for this diagnostic click. For "
    "unmapped rows this is a read-only probe, not an invented actuator/coding command.";

// The attempt lists keep time-outs as signed 32-bit values; the callers' are
// at most a few seconds, and a larger one is held at the largest that fits.
std::int32_t attempt_timeout(std::uint32_t timeout_ms) {
    return timeout_ms > static_cast<std::uint32_t>(INT32_MAX) ? INT32_MAX : static_cast<std::int32_t>(timeout_ms);
}

// What the attempts showed, for the result's summary members.
struct ProbeRun {
    const ProbeAttempt* accepted = nullptr;
    j2534::Status accepted_rc = j2534::kCodeNothingAccepted;
    std::uint32_t accepted_written = 0;
    bool any_reply = false;
    // The accepted attempt's replies, else the first replies any attempt saw.
    std::string shown_rx = "[]";
    std::uint32_t total_rx = 0;
    ResultWriter attempts;
};

void log_attempt(std::string_view read_type, std::string_view context, const ProbeAttempt& attempt,
                 const WriteOutcome& outcome) {
    log_line(" BUILD322 backend-forward attempt kind=" + std::string(read_type) + " context=" + std::string(context) +
             " name=" + std::string(attempt.name) + attempt_log_fields(outcome));
}

// Sends one attempt from empty device queues, so its reads show only what
// followed its own frame; returns true when the device took it.
bool run_attempt(const ProbeAttempt& attempt, std::string_view read_type, std::string_view context,
                 ProbeRun& run) {
    clear_tx_rx_buffers();
    const WriteOutcome outcome = send_and_read(attempt.frame, attempt.tx_flags, attempt.timeout_ms, kAttemptReplies);

    // Here a frame counts as sent as soon as the device took any message,
    // whatever status came with it: the probe only has to show that the
    // physical path moves.
    const bool accepted = outcome.written != 0;
    if ((outcome.rx_count > 0 && !run.any_reply) || accepted) run.shown_rx = outcome.rx;
    if (accepted) {
        run.accepted = &attempt;
        run.accepted_rc = outcome.rc;
        run.accepted_written = outcome.written;
    }
    run.any_reply = run.any_reply || outcome.rx_count > 0;
    run.total_rx += outcome.rx_count;

    if (run.attempts.str().size() > 1) run.attempts.raw(",");
    append_attempt_object(run.attempts, attempt.name, outcome);
    log_attempt(read_type, context, attempt, outcome);
    return accepted;
}

std::string probe_result(std::string_view read_type, std::string_view context, const ProbeAttemptList& attempts,
                         const ProbeRun& run) {
    const bool sent = run.accepted != nullptr;
    // With nothing accepted the result still names the frame that was tried
    // first.
    WriteOutcome summary{.rc = run.accepted_rc, .written = run.accepted_written, .rx_count = run.total_rx,
                         .rx = run.shown_rx};
    if (sent) {
        summary.tx = run.accepted->frame;
    } else if (!attempts.empty()) {
        summary.tx = attempts.front().frame;
    }
    ResultWriter w;
    w.raw("{\"ok\":").boolean(sent);
    w.raw(",\"mode\":\"real-j2534-backend-forward\",\"releaseBuild\":\"").raw(kReleaseBuild);
    w.raw("\",\"stage\":\"backend-forward-physical-tx\",\"readType\":\"").text(read_type);
    w.raw("\",\"context\":\"").text(context);
    w.raw("\",\"commandSent\":").boolean(sent);
    w.raw(",\"noTx\":").boolean(!sent);
    w.raw(",\"physicalTxAttempted\":true,\"ecuResponseSeen\":").boolean(run.any_reply);
    append_write_report(w, summary);
    w.raw(",\"attempts\":").raw(run.attempts.str());
    w.raw(",\"message\":\"").raw(kProbeMessage).raw("\"}");
    return w.take();
}

}  // namespace

std::string run_backend_forward_probe(std::string_view read_type, std::string_view context,
                                      const ProbeAttemptList& attempts) {
    const j2534::DeviceState& state = j2534::device_state();
    if (state.channel_id == 0 || state.entry.write_msgs == nullptr) return std::string(kNotConnectedResult);

    ProbeRun run;
    run.attempts.raw("[");
    for (const ProbeAttempt& attempt : attempts) {
        if (run_attempt(attempt, read_type, context, run)) break;
    }
    run.attempts.raw("]");
    return probe_result(read_type, context, attempts, run);
}

std::string run_function_fallback_probe(std::string_view kind, std::string_view name, std::uint32_t timeout_ms) {
    const std::string context = std::string(kind) + ":" + std::string(name);
    return run_backend_forward_probe("function-fallback", context,
                                     build_function_click_attempts(attempt_timeout(timeout_ms)));
}

std::string run_read_probe(std::string_view kind, std::span<const std::uint8_t> frame, std::uint32_t timeout_ms) {
    return run_backend_forward_probe(kind, "read/probe", build_read_attempts(frame, attempt_timeout(timeout_ms)));
}

}  // namespace vx
