// VX_RunActuatorKwp71: builds one KWP71 block from the request's pieces and
// sends it once as an actuator test. The only export that advances the KWP71
// block counter.
#include "commands/kwp71_actuator.h"

#include "commands/command_gate.h"
#include "commands/kwp71_block.h"
#include "core/raw_log.h"

namespace vx::commands {

namespace {

constexpr GateProfile kActuatorProfile{
    .timeout_default_ms = 1000,
    .reads_max_run = true,
    .not_connected_log = " KWP71 actuator blocked - no ISO9141 channel name=",
    .fallback_log = " BUILD322 KWP71 fallback physical TX probe because ECU init not confirmed name=",
    .fallback_log_shows_mode = false,
    .probe_kind = "kwp71-audit",
    .fallback_reason = "kwp71 init not confirmed - read-only TX/RX audit probe sent",
};

// Per-read time-out of the reply collection after the block (the host's contract).
constexpr std::uint32_t kReplyReadTimeoutMs = 250;

// ,"sequence":N,"nextSequence":N,"blockLength":N (blockLength only after a send)
void append_sequence_members(ResultWriter& w, const Kwp71Block& block, bool with_length) {
    w.raw(",\"sequence\":").unsigned_number(block.counter);
    w.raw(",\"nextSequence\":").unsigned_number(j2534::device_state().kwp71_block_counter);
    if (with_length) w.raw(",\"blockLength\":").unsigned_number(block.bytes.front());
}

std::string simulation_answer(const GateRequest& gate, const Kwp71Block& block, const std::string& tx_hex) {
    ResultWriter w;
    w.raw("{\"ok\":true,\"stage\":\"kwp71-simulation\",\"simulation\":true,\"commandSent\":false,"
          "\"noTx\":true,\"name\":\"")
        .text(gate.name)
        .raw("\"");
    append_sequence_members(w, block, false);
    w.raw(",\"txHex\":\"").raw(tx_hex);  // hex digits and blanks need no escaping
    w.raw("\",\"message\":\"KWP71 actuator frame generated in simulation. No vehicle command was transmitted.\"}");
    log_line(" KWP71 actuator simulation name=" + gate.name + " TX=" + tx_hex);
    return w.take();
}

std::string send_block(const GateRequest& gate, const Kwp71Block& block, const std::string& tx_hex) {
    const j2534::VbattReading vbatt = j2534::read_vbatt();
    const FrameWrite write = clear_and_send_frame(block.bytes, gate.timeout_ms);
    if (write.sent()) j2534::device_state().block_sent(block.counter);
    // The run time follows every write, sent or not: the actuator runs
    // before its replies are read.
    pause_ms(gate.max_run_ms);
    const RxList replies = collect_replies(kReplyReadTimeoutMs);

    ResultWriter w;
    append_command_head(w, write.sent(), "kwp71-actuator-command", write.sent(), replies.count);
    append_sequence_members(w, block, true);
    append_command_write(w, write, block.bytes, replies);
    j2534::append_vbatt_capture(w, vbatt);
    append_command_message(w, write.sent()
                                  ? "KWP71 actuator frame transmitted. Check ECU response/result and vehicle reaction."
                                  : "KWP71 actuator frame transmit failed. See Raw Log.");
    std::string result = w.take();
    log_line(" KWP71 actuator name=" + gate.name + " TX=" + tx_hex + " seq=" + std::to_string(block.counter) +
             " wrRc=" + std::to_string(write.rc) + " rxCount=" + std::to_string(replies.count));
    return result;
}

}  // namespace

std::string run_actuator(const char* request_text) {
    const RequestFields request(request_text);
    GateRequest gate(request, kActuatorProfile);

    // Refused before the simulation check, so a bad request fails the same
    // way in simulation and on a vehicle.
    if (gate.mode.find("kwp71") == std::string::npos) {
        log_line(" KWP71 actuator blocked - invalid mode name=" + gate.name + " mode=" + gate.mode);
        return command_refusal("kwp71-mode-required", "VX_RunActuatorKwp71 requires mode=kwp71-command-data.");
    }
    Kwp71Block block;
    std::string error;
    if (!build_kwp71_block(request.text("commandType"), request.text("payloadHex"), request.text("trailer"),
                           request.integer("sequence", -1), block, error)) {
        log_line(" KWP71 actuator build failed name=" + gate.name + " error=" + error);
        return command_refusal("kwp71-build-failed", error);
    }
    const std::string tx_hex = hex_bytes_text(block.bytes);
    if (auto answer =
            answer_before_send(kActuatorProfile, request, gate, [&] { return simulation_answer(gate, block, tx_hex); })) {
        return std::move(*answer);
    }
    return send_block(gate, block, tx_hex);
}

}  // namespace vx::commands
