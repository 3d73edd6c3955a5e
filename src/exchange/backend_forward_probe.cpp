#include "exchange/backend_forward_probe.h"

#include <cstdint>

#include "core/core_state.h"
#include "core/raw_log.h"
#include "core/result_writer.h"
#include "exchange/frame_exchange.h"
#include "j2534/status_text.h"

namespace vx {

namespace {

// The attempt lists keep time-outs as signed 32-bit values; the callers' are
// at most a few seconds, and a larger one is held at the largest that fits.
std::int32_t attempt_timeout(std::uint32_t timeout_ms) {
    return timeout_ms > static_cast<std::uint32_t>(INT32_MAX)
               ? INT32_MAX
               : static_cast<std::int32_t>(timeout_ms);
}

// After each attempt: up to eight messages, 250 ms per read.
constexpr std::uint32_t kReadMaxMessages = 8;
constexpr std::uint32_t kReadTimeoutMs = 250;

// The core's own code for "no frame was accepted"; named ERR_UNKNOWN.
constexpr j2534::Status kNothingAccepted = -999;

constexpr std::string_view kSimulationResult =
    "{\"ok\":true,\"simulation\":true,\"commandSent\":false,\"noTx\":true,"
    "\"message\":\"Simulation mode: no real J2534 TX.\"}";
constexpr std::string_view kNotConnectedResult =
    "{\"ok\":false,\"mode\":\"real-j2534-backend-forward\",\"stage\":\"not-connected\","
    "\"commandSent\":false,\"noTx\":true,"
    "\"message\":\"No J2534 channel/writer is open. Connect ECU first.\"}";
constexpr std::string_view kProbeMessage =
    "BUILD322 backend-forward physical TX/RX path executed for this diagnostic click. For "
    "unmapped rows this is a read-only probe, not an invented actuator/coding command.";

void log_attempt(std::string_view read_type, std::string_view context, const ProbeAttempt& attempt,
                 j2534::Status rc, std::uint32_t written, std::uint32_t rx_count) {
    std::string line = " BUILD322 backend-forward attempt kind=";
    line.append(read_type);
    line.append(" context=");
    line.append(context);
    line.append(" name=");
    line.append(attempt.name);
    line.append(" TX=");
    append_hex_bytes(line, attempt.frame.data(), attempt.frame.size());
    line.append(" flags=");
    append_unsigned(line, attempt.txFlags);
    line.append(" wrRc=");
    append_decimal(line, rc);
    line.append(" written=");
    append_unsigned(line, written);
    line.append(" rxCount=");
    append_unsigned(line, rx_count);
    log_line(line);
}

}  // namespace

std::string RunBackendForwardProbe(std::optional<std::string_view> read_type_in,
                                   std::optional<std::string_view> context_in,
                                   const ProbeAttemptList& attempts) {
    const std::string_view read_type = read_type_in.value_or("probe");
    const std::string_view context = context_in.value_or("");
    const CoreState& state = core_state();

    if (state.simulation) {
        std::string line = " BUILD322 backend-forward ";
        line.append(read_type);
        line.append(" simulation - no TX");
        log_line(line);
        return std::string(kSimulationResult);
    }
    if (state.channel_id == 0 || state.entry.write_msgs == nullptr) {
        return std::string(kNotConnectedResult);
    }

    bool any_accepted = false;
    bool any_reply = false;
    j2534::Status reported_rc = kNothingAccepted;
    std::uint32_t reported_written = 0;
    std::string reported_tx_hex;
    std::string reported_rx = "[]";
    std::uint64_t total_rx = 0;
    std::string attempts_text = "[";
    bool first_object = true;

    for (const ProbeAttempt& attempt : attempts) {
        if (attempt.frame.empty()) continue;

        // Each attempt starts from empty device queues, so its reads show
        // only what followed its own frame.
        ClearTxRxBuffers();

        std::uint32_t written = 0;
        const j2534::Status rc =
            WriteFrame(attempt.frame.data(), static_cast<std::uint32_t>(attempt.frame.size()),
                       attempt.txFlags, attempt.timeoutMs, written);
        std::uint32_t rx_count = 0;
        const std::string rx = ReadRxList(kReadMaxMessages, kReadTimeoutMs, rx_count);

        // Here a frame counts as sent as soon as the device took any message,
        // whatever status came with it: the probe only has to show that the
        // physical path moves.
        const bool accepted = written != 0;
        const bool replied = rx_count > 0;
        if (accepted && !any_accepted) {
            reported_tx_hex = hex_bytes_text(attempt.frame);
            reported_rx = rx;
            reported_written = written;
            reported_rc = rc;
        }
        // Before any acceptance, the first list that holds anything is shown.
        // The loop ends at the accepted attempt, so its own list (even "[]")
        // is the one left standing.
        if (replied && !any_reply) reported_rx = rx;
        any_accepted = any_accepted || accepted;
        any_reply = any_reply || replied;
        total_rx += rx_count;

        if (!first_object) attempts_text.push_back(',');
        first_object = false;
        AttemptReport report;
        report.name = attempt.name;
        report.writeRc = rc;
        report.tx = attempt.frame;
        report.txFlags = attempt.txFlags;
        report.txMessagesWritten = written;
        report.rxCount = rx_count;
        report.rx = rx;
        AppendAttemptObject(attempts_text, report);

        log_attempt(read_type, context, attempt, rc, written, rx_count);

        if (accepted) break;
    }
    attempts_text.push_back(']');

    // With nothing accepted the result still names the frame that was tried
    // first.
    if (reported_tx_hex.empty() && !attempts.empty() && !attempts.front().frame.empty()) {
        reported_tx_hex = hex_bytes_text(attempts.front().frame);
    }

    ResultWriter w;
    w.raw("{\"ok\":").boolean(any_accepted);
    w.raw(",\"mode\":\"real-j2534-backend-forward\"");
    w.raw(",\"releaseBuild\":\"BUILD322_TXRX_COMPLETE_RELEASE_NO_FAKE\"");
    w.raw(",\"stage\":\"backend-forward-physical-tx\"");
    w.raw(",\"readType\":\"").text(read_type);
    w.raw("\",\"context\":\"").text(context);
    w.raw("\",\"commandSent\":").boolean(any_accepted);
    w.raw(",\"noTx\":").boolean(!any_accepted);
    w.raw(",\"physicalTxAttempted\":true");
    w.raw(",\"ecuResponseSeen\":").boolean(any_reply);
    w.raw(",\"writeRc\":").signed_number(reported_rc);
    w.raw(",\"writeRcName\":\"").text(j2534::status_name(reported_rc));
    w.raw("\",\"txMessagesWritten\":").unsigned_number(reported_written);
    w.raw(",\"txHex\":\"").text(reported_tx_hex);
    w.raw("\",\"rxCount\":").unsigned_number(total_rx);
    w.raw(",\"rx\":").raw(reported_rx);
    w.raw(",\"attempts\":").raw(attempts_text);
    w.raw(",\"message\":\"").raw(kProbeMessage).raw("\"}");
    return w.take();
}

std::string RunFunctionFallbackProbe(std::optional<std::string_view> kind,
                                     std::optional<std::string_view> name,
                                     std::uint32_t timeout_ms) {
    // An empty kind is a kind: only a missing one becomes "function".
    std::string context(kind.value_or("function"));
    context.push_back(':');
    context.append(name.value_or(""));
    return RunBackendForwardProbe("function-fallback", context,
                                  BuildFunctionClickAttempts(attempt_timeout(timeout_ms)));
}

std::string RunReadProbe(std::string_view kind, const std::uint8_t* frame, std::size_t frame_length,
                         std::uint32_t timeout_ms) {
    return RunBackendForwardProbe(
        kind, "read/probe", BuildReadAttempts(frame, frame_length, attempt_timeout(timeout_ms)));
}

}  // namespace vx
