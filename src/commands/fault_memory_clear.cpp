// VX_ClearFaultMemory: transmits a fault-memory clear only when the host
// supplies one for this ECU (a raw clearHex frame or the pieces of a KWP71
// block); without one it says so and transmits nothing. The host's fault
// window can always be cleared; the ECU's memory only by a mapped command.
#include "commands/fault_memory_clear.h"

#include "commands/command_gate.h"
#include "commands/kwp71_block.h"
#include "core/raw_log.h"

namespace vx::commands {

namespace {

constexpr GateProfile kClearProfile{
    .timeout_default_ms = 1500,
    .reads_max_run = false,
    .not_connected_log = " ClearFaultMemory blocked - no ISO9141 channel name=",
    .fallback_log = " BUILD322 ClearFaultMemory fallback physical TX probe because ECU init not confirmed name=",
    .fallback_log_shows_mode = false,
    .probe_kind = "clear-fault-memory-audit",
    .fallback_reason = "fault clear blocked; ECU init not confirmed - read-only TX/RX audit probe sent instead",
};

// Per-read time-out of the reply collection after the clear frame (the host's
// contract): a clear may take the ECU longer to acknowledge than an ordinary
// request.
constexpr std::uint32_t kReplyReadTimeoutMs = 350;
// Fixed pause between the clear frame's replies and the stop frame (the
// host's contract).
constexpr std::uint32_t kStopPauseMs = 150;

constexpr std::string_view kSimulationAnswer =
    "{\"ok\":true,\"stage\":\"simulation\",\"simulation\":true,\"commandSent\":false,"
    "\"noTx\":true,\"message\":\"Simulation mode: fault results window can be cleared, but no "
    "ECU fault memory command was transmitted.\"}";
constexpr std::string_view kNoCommandAnswer =
    "{\"ok\":true,\"stage\":\"backend-required\",\"commandSent\":false,\"noTx\":true,"
    "\"message\":\"No verified ECU-specific fault-memory clear command is mapped for this "
    "ECU. Window cleared only; use Ryx vehicle communication capture before enabling real "
    "ECU clear TX.\"}";

// The clear frame the request maps, or the answer that refuses it.
std::optional<std::string> choose_frame(const RequestFields& request, const GateRequest& gate, Bytes& frame) {
    const std::string command_type = request.text("commandType");
    const std::string payload_hex = request.text("payloadHex");
    if (gate.mode.find("kwp71") != std::string_view::npos && !command_type.empty() && !payload_hex.empty()) {
        // Built with the current block counter (or the request's sequence);
        // a clear block never advances the counter.
        Kwp71Block block;
        std::string error;
        if (!build_kwp71_block(command_type, payload_hex, request.text("trailer"), request.integer("sequence", 0),
                               block, error)) {
            log_line(" ClearFaultMemory KWP71 build failed error=" + error);
            return command_refusal("kwp71-build-failed", error);
        }
        frame = std::move(block.bytes);
        return std::nullopt;
    }
    std::string clear_hex = request.text("clearHex");
    if (clear_hex.empty()) clear_hex = request.text("startHex");
    if (clear_hex.empty()) {
        log_line(" ClearFaultMemory no verified command mapped - no TX");
        return std::string(kNoCommandAnswer);
    }
    if (!parse_hex_text(clear_hex, frame)) {
        log_line(" ClearFaultMemory invalid clearHex=" + clear_hex);
        return command_refusal("clear-command-invalid",
                               "Mapped fault-memory clear command is invalid. No command was sent.");
    }
    return std::nullopt;
}

std::string send_clear(const RequestFields& request, const GateRequest& gate, const Bytes& frame) {
    const j2534::VbattReading vbatt = j2534::read_vbatt();
    const FrameWrite write = clear_and_send_frame(frame, gate.timeout_ms);
    const RxList replies = collect_replies(kReplyReadTimeoutMs);

    // The stop frame only follows a clear that went out; its replies are
    // not collected, and it does not decide ok.
    FrameWrite stop_write;
    Bytes stop;
    if (write.sent() && parse_hex_text(request.text("stopHex"), stop)) {
        pause_ms(kStopPauseMs);
        stop_write = send_frame(stop, gate.timeout_ms);
    }
    ResultWriter w;
    append_command_head(w, write.sent(), "clear-fault-memory", write.sent(), replies.count);
    append_command_write(w, write, frame, replies);
    append_stop_outcome(w, stop_write, nullptr, {});
    j2534::append_vbatt_capture(w, vbatt);
    append_command_message(w, write.sent() ? "ECU fault-memory clear command transmitted. Read faults again to "
                                             "confirm memory is empty."
                                           : "ECU fault-memory clear command failed. See Raw Log.");
    std::string result = w.take();
    log_line(" ClearFaultMemory TX=" + hex_bytes_text(frame) + " wrRc=" + std::to_string(write.rc) +
             " written=" + std::to_string(write.written) + " rxCount=" + std::to_string(replies.count));
    return result;
}

}  // namespace

std::string run_clear(const char* request_text) {
    const RequestFields request(request_text);
    GateRequest gate(request, kClearProfile);
    const auto simulation_answer = [&] {
        log_line(" ClearFaultMemory simulation - no TX name=" + gate.name);
        return std::string(kSimulationAnswer);
    };
    if (auto answer = answer_before_send(kClearProfile, request, gate, simulation_answer)) return std::move(*answer);

    Bytes frame;
    if (auto refusal = choose_frame(request, gate, frame)) return std::move(*refusal);
    return send_clear(request, gate, frame);
}

}  // namespace vx::commands
