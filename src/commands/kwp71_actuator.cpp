// VX_RunActuatorKwp71: builds one KWP71 block from the request's pieces and
// sends it once as an actuator test. The only export that advances the KWP71
// block counter.
#include "VXArvessaDiagCore.h"
#include "commands/command_gate.h"
#include "commands/kwp71_block.h"
#include "core/export_guard.h"
#include "core/raw_log.h"
#include "core/request_reader.h"
#include "core/result_writer.h"

namespace vx::commands {

namespace {

constexpr GateProfile kActuatorProfile{
    1000,
    true,
    " KWP71 actuator blocked - no ISO9141 channel name=",
    " BUILD322 KWP71 fallback physical TX probe because ECU init not confirmed name=",
    false,
    "kwp71 init not confirmed - read-only TX/RX audit probe sent",
};

// Per-read time-out of the reply collection after the block.
constexpr std::uint32_t kReplyReadTimeoutMs = 250;

std::string run_actuator(const char* request) {
    const GateRequest gate = read_gate_request(request, kActuatorProfile);
    const std::string command_type = request_text(request, "commandType");
    const std::string payload_hex = request_text(request, "payloadHex");
    const std::string trailer = request_text(request, "trailer");
    const int sequence = request_int(request, "sequence", -1);

    // Refused before the simulation check, so a bad request fails the same
    // way in simulation and on a vehicle.
    if (gate.mode.find("kwp71") == std::string::npos) {
        log_line(" KWP71 actuator blocked - invalid mode name=" + gate.name + " mode=" + gate.mode);
        return command_refusal("kwp71-mode-required", "VX_RunActuatorKwp71 requires mode=kwp71-command-data.");
    }
    Kwp71Block block;
    std::string error;
    if (!build_kwp71_block(command_type, payload_hex, trailer, sequence, block, error)) {
        log_line(" KWP71 actuator build failed name=" + gate.name + " error=" + error);
        return command_refusal("kwp71-build-failed", error);
    }
    const std::string tx_hex = hex_bytes_text(block.bytes);

    auto simulation_answer = [&] {
        ResultWriter w;
        w.raw("{\"ok\":true,\"stage\":\"kwp71-simulation\",\"simulation\":true,\"commandSent\":false,"
              "\"noTx\":true,\"name\":\"")
            .text(gate.name)
            .raw("\",\"sequence\":")
            .unsigned_number(block.counter)
            .raw(",\"nextSequence\":")
            .unsigned_number(current_kwp71_block_counter())
            .raw(",\"txHex\":\"")
            .text(tx_hex)
            .raw("\",\"message\":\"KWP71 actuator frame generated in simulation. No vehicle command "
                 "was transmitted.\"}");
        log_line(" KWP71 actuator simulation name=" + gate.name + " TX=" + tx_hex);
        return w.take();
    };
    if (auto answer = answer_before_send(kActuatorProfile, gate, "kwp71-audit", simulation_answer)) {
        return std::move(*answer);
    }

    const readings::VbattReading vbatt = readings::read_vbatt();
    const FrameWrite write = send_frame(block.bytes, gate.timeout_ms);
    if (write.sent()) advance_kwp71_block_counter(block.counter);
    // The run time follows every write, sent or not: the actuator runs
    // before its replies are read.
    pause_ms(gate.max_run_ms);
    const Replies replies = collect_replies(kReplyReadTimeoutMs);

    ResultWriter sequence_members;
    sequence_members.raw(",\"sequence\":")
        .unsigned_number(block.counter)
        .raw(",\"nextSequence\":")
        .unsigned_number(current_kwp71_block_counter())
        .raw(",\"blockLength\":")
        .unsigned_number(block.bytes.front());

    CommandReport report;
    report.ok = write.sent();
    report.stage = "kwp71-actuator-command";
    report.command_sent = write.sent();
    report.after_response_seen = sequence_members.str();
    report.write = write;
    report.frame = &block.bytes;
    report.rx_count = replies.count;
    report.rx = replies.rx;
    report.vbatt = vbatt;
    report.message = report.ok
                         ? "KWP71 actuator frame transmitted. Check ECU response/result and vehicle reaction."
                         : "KWP71 actuator frame transmit failed. See Raw Log.";
    std::string result = command_result(report);

    log_line(" KWP71 actuator name=" + gate.name + " TX=" + tx_hex + " seq=" +
             unsigned_text(block.counter) + " wrRc=" + decimal_text(write.rc) +
             " rxCount=" + unsigned_text(replies.count));
    return result;
}

}  // namespace
}  // namespace vx::commands

extern "C" VX_API int VX_CALL VX_RunActuatorKwp71(const char* request, char* buffer, int size) {
    return vx::guarded_result(buffer, size, [request] { return vx::commands::run_actuator(request); });
}
