// VX_RunSafeFunction: runs one ECU function that the host mapped to raw start
// and stop frames. Transmits them only for a verified mapping on a confirmed
// ECU initialisation; every other click runs the read-only backend-forward
// probe so that it still exercises and reports the physical path.
#include "VXArvessaDiagCore.h"
#include "commands/command_gate.h"
#include "core/export_guard.h"
#include "core/raw_log.h"
#include "core/request_reader.h"
#include "core/result_writer.h"
#include "exchange/backend_forward_probe.h"

namespace vx::commands {

namespace {

constexpr GateProfile kSafeFunctionProfile{
    1000,
    true,
    " FunctionExecution blocked - no ISO9141 channel name=",
    " BUILD322 FunctionExecution fallback physical TX probe because ECU init not confirmed name=",
    true,
    "ECU init not confirmed - read-only TX/RX audit probe sent",
};

// Per-read time-out of the reply collections after the start and stop frames.
constexpr std::uint32_t kReplyReadTimeoutMs = 250;

bool contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

std::string run_safe_function(const char* request) {
    const std::string type = request_text(request, "type");
    const GateRequest gate = read_gate_request(request, kSafeFunctionProfile);
    Bytes start;
    const bool has_start = parse_hex_text(request_text(request, "startHex"), start);
    Bytes stop;
    const bool has_stop = parse_hex_text(request_text(request, "stopHex"), stop);
    const bool fallback_requested = request_flag(request, "backendForwardFallbackProbe");
    const bool verified_mode = contains(gate.mode, "verified") || contains(gate.mode, "mapped");

    auto simulation_answer = [&] {
        ResultWriter w;
        w.raw("{\"ok\":true,\"stage\":\"simulation\",\"simulation\":true,\"commandSent\":false,"
              "\"noTx\":true,\"type\":\"")
            .text(type)
            .raw("\",\"name\":\"")
            .text(gate.name)
            .raw("\",\"message\":\"Simulation completed. No vehicle command was transmitted.\"}");
        log_line(" FunctionExecution simulation " + type + " name=" + gate.name + " mode=" + gate.mode);
        return w.take();
    };
    if (auto answer = answer_before_send(kSafeFunctionProfile, gate, type, simulation_answer)) {
        return std::move(*answer);
    }

    // Captured before the probe decision, so a probe fallback reports it too.
    const readings::VbattReading vbatt = readings::read_vbatt();

    if (fallback_requested || !has_start || contains(gate.mode, "preflight") ||
        contains(gate.mode, "no-tx") || !verified_mode) {
        std::string result =
            RunFunctionFallbackProbe(std::string_view(type), std::string_view(gate.name), gate.timeout_ms);
        const std::string_view reason = !has_start      ? "no verified startHex"
                                        : verified_mode ? "fallback requested"
                                                        : "unverified mode";
        ResultWriter members;
        members.raw(",\"readVBattRc\":")
            .signed_number(vbatt.rc)
            .raw(",\"readVBattRcName\":\"")
            .text(j2534::status_name(vbatt.rc))
            .raw("\",\"vbattMilliV\":")
            .unsigned_number(vbatt.milli_volts)
            .raw(",\"fallbackReason\":\"")
            .text(reason)
            .raw("\"");
        insert_members(result, members.str());
        log_line(" BUILD322 FunctionExecution fallback physical TX probe name=" + gate.name +
                 " mode=" + gate.mode + " hasStart=" + (has_start ? "1" : "0"));
        return result;
    }

    const FrameWrite start_write = send_frame(start, gate.timeout_ms);
    // From here on the function may be running on the ECU. Collecting replies
    // allocates; if memory runs out there, the stop frame (which needs no
    // allocation to go out) is still sent before the failure is reported.
    Replies start_replies;
    try {
        start_replies = collect_replies(kReplyReadTimeoutMs);
    } catch (...) {
        if (has_stop) {
            pause_ms(gate.max_run_ms);
            static_cast<void>(write_frame(stop, gate.timeout_ms));
        }
        throw;
    }
    std::uint32_t rx_total = start_replies.count;

    // The stop frame follows even a failed start write: a function that did
    // start after all must not be left running.
    // Nothing may allocate between the start frame and the stop frame's write.
    std::string stop_text;
    bool stop_sent = true;
    if (has_stop) {
        pause_ms(gate.max_run_ms);
        const FrameWrite stop_write = write_frame(stop, gate.timeout_ms);
        const Replies stop_replies = collect_replies(kReplyReadTimeoutMs);
        rx_total += stop_replies.count;
        stop_sent = stop_write.sent();
        ResultWriter stop_members;
        stop_members.raw(",\"stopRc\":")
            .signed_number(stop_write.rc)
            .raw(",\"stopRcName\":\"")
            .text(j2534::status_name(stop_write.rc))
            .raw("\",\"stopMessagesWritten\":")
            .unsigned_number(stop_write.written)
            .raw(",\"stopHex\":\"")
            .hex(stop)
            .raw("\",\"stopRx\":")
            .raw(stop_replies.rx);
        stop_text = stop_members.take();
    }

    CommandReport report;
    report.ok = start_write.sent() && stop_sent;
    report.stage = "verified-command";
    report.command_sent = start_write.sent();
    report.write = start_write;
    report.frame = &start;
    report.rx_count = rx_total;
    report.rx = start_replies.rx;
    report.vbatt = vbatt;
    report.after_vbatt = stop_text;
    report.message = report.ok
                         ? "Verified command transmitted. Check ECU response/result and vehicle reaction."
                         : "Command transmit failed or stop command failed. See Raw Log.";
    std::string result = command_result(report);

    log_line(" FunctionExecution verified name=" + gate.name + " TX=" + hex_bytes_text(start) +
             " wrRc=" + decimal_text(start_write.rc) + " rxCount=" + unsigned_text(rx_total));
    return result;
}

}  // namespace
}  // namespace vx::commands

extern "C" VX_API int VX_CALL VX_RunSafeFunction(const char* request, char* buffer, int size) {
    return vx::guarded_result(buffer, size, [request] { return vx::commands::run_safe_function(request); });
}
