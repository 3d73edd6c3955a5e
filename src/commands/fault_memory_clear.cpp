// VX_ClearFaultMemory: transmits a fault-memory clear only when the host
// supplies one for this ECU (a raw clearHex frame or the pieces of a KWP71
// block); without one it says so and transmits nothing. The host's fault
// window can always be cleared; the ECU's memory only by a mapped command.
#include "VXArvessaDiagCore.h"
#include "commands/command_gate.h"
#include "commands/kwp71_block.h"
#include "core/export_guard.h"
#include "core/raw_log.h"
#include "core/request_reader.h"
#include "core/result_writer.h"

namespace vx::commands {

namespace {

constexpr GateProfile kClearProfile{
    1500,
    false,
    " ClearFaultMemory blocked - no ISO9141 channel name=",
    " BUILD322 ClearFaultMemory fallback physical TX probe because ECU init not confirmed name=",
    false,
    "fault clear blocked; ECU init not confirmed - read-only TX/RX audit probe sent instead",
};

// Per-read time-out of the reply collection after the clear frame: a clear
// may take the ECU longer to acknowledge than an ordinary request.
constexpr std::uint32_t kReplyReadTimeoutMs = 350;
// Fixed pause between the clear frame's replies and the stop frame.
constexpr std::uint32_t kStopPauseMs = 150;

std::string run_clear(const char* request) {
    const GateRequest gate = read_gate_request(request, kClearProfile);
    std::string clear_hex = request_text(request, "clearHex");
    if (clear_hex.empty()) clear_hex = request_text(request, "startHex");
    const std::string stop_hex = request_text(request, "stopHex");
    const std::string command_type = request_text(request, "commandType");
    const std::string payload_hex = request_text(request, "payloadHex");
    const std::string trailer = request_text(request, "trailer");
    const int sequence = request_int(request, "sequence", 0);

    auto simulation_answer = [&] {
        log_line(" ClearFaultMemory simulation - no TX name=" + gate.name);
        return std::string(
            "{\"ok\":true,\"stage\":\"simulation\",\"simulation\":true,\"commandSent\":false,"
            "\"noTx\":true,\"message\":\"Simulation mode: fault results window can be cleared, but no "
            "ECU fault memory command was transmitted.\"}");
    };
    if (auto answer = answer_before_send(kClearProfile, gate, "clear-fault-memory-audit", simulation_answer)) {
        return std::move(*answer);
    }

    Bytes frame;
    if (gate.mode.find("kwp71") != std::string::npos && !command_type.empty() && !payload_hex.empty()) {
        // Built with the current block counter (or the request's sequence);
        // a clear block never advances the counter.
        Kwp71Block block;
        std::string error;
        if (!build_kwp71_block(command_type, payload_hex, trailer, sequence, block, error)) {
            log_line(" ClearFaultMemory KWP71 build failed error=" + error);
            return command_refusal("kwp71-build-failed", error);
        }
        frame = std::move(block.bytes);
    } else if (!clear_hex.empty()) {
        if (!parse_hex_text(clear_hex, frame)) {
            log_line(" ClearFaultMemory invalid clearHex=" + clear_hex);
            return command_refusal("clear-command-invalid",
                           "Mapped fault-memory clear command is invalid. No command was sent.");
        }
    } else {
        log_line(" ClearFaultMemory no verified command mapped - no TX");
        return "{\"ok\":true,\"stage\":\"backend-required\",\"commandSent\":false,\"noTx\":true,"
               "\"message\":\"No verified ECU-specific fault-memory clear command is mapped for this "
               "ECU. Window cleared only; use Ryx vehicle communication capture before enabling real "
               "ECU clear TX.\"}";
    }

    const readings::VbattReading vbatt = readings::read_vbatt();
    const FrameWrite write = send_frame(frame, gate.timeout_ms);
    const Replies replies = collect_replies(kReplyReadTimeoutMs);

    // The stop frame only follows a clear that went out; its replies are
    // not collected, and it does not decide ok.
    FrameWrite stop_write;
    Bytes stop;
    if (write.sent() && parse_hex_text(stop_hex, stop)) {
        pause_ms(kStopPauseMs);
        stop_write = write_frame(stop, gate.timeout_ms);
    }
    ResultWriter stop_members;
    stop_members.raw(",\"stopRc\":")
        .signed_number(stop_write.rc)
        .raw(",\"stopMessagesWritten\":")
        .unsigned_number(stop_write.written);

    CommandReport report;
    report.ok = write.sent();
    report.stage = "clear-fault-memory";
    report.command_sent = write.sent();
    report.write = write;
    report.frame = &frame;
    report.rx_count = replies.count;
    report.rx = replies.rx;
    report.after_rx = stop_members.str();
    report.vbatt = vbatt;
    report.message = report.ok
                         ? "ECU fault-memory clear command transmitted. Read faults again to confirm memory is empty."
                         : "ECU fault-memory clear command failed. See Raw Log.";
    std::string result = command_result(report);

    log_line(" ClearFaultMemory TX=" + hex_bytes_text(frame) + " wrRc=" + decimal_text(write.rc) +
             " written=" + unsigned_text(write.written) + " rxCount=" + unsigned_text(replies.count));
    return result;
}

}  // namespace
}  // namespace vx::commands

extern "C" VX_API int VX_CALL VX_ClearFaultMemory(const char* request, char* buffer, int size) {
    return vx::guarded_result(buffer, size, [request] { return vx::commands::run_clear(request); });
}
