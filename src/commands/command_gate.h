// The command gate: the one guarded flow of the three exports that send
// frames meant to change ECU state (VX_RunSafeFunction, VX_RunActuatorKwp71,
// VX_ClearFaultMemory).
//
// Order of every command call: read and clamp the request; export checks;
// simulation switch (simulated answer, nothing sent); no channel (the
// not-connected answer); ECU initialisation not confirmed (the read-only
// backend-forward probe instead of the command, the "audit fallback");
// export's frame choice; voltage capture; buffer clear and frame write;
// reply collection; optional stop frame; one result and one log line.
//
// A command frame is only ever written after all three checks passed, and it
// is never retried.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "core/request_reader.h"
#include "core/result_writer.h"
#include "core/simulation_switch.h"
#include "core/text_utils.h"
#include "exchange/frame_exchange.h"
#include "j2534/device_state.h"
#include "j2534/read_vbatt.h"

namespace vx::commands {

// The ranges and caps below are the host's contract.
// Write time-out range of every command frame, in ms.
inline constexpr int kTimeoutMinMs = 50;
inline constexpr int kTimeoutMaxMs = 3000;
// Run time range (the pause before the stop frame or the reply collection).
inline constexpr int kMaxRunMinMs = 0;
inline constexpr int kMaxRunMaxMs = 2500;
inline constexpr int kMaxRunDefaultMs = 1000;
// Messages taken at most by one reply collection.
inline constexpr std::uint32_t kReplyMessagesMax = 8;

// What differs between the three exports in the shared steps.
struct GateProfile {
    int timeout_default_ms;
    bool reads_max_run;  // VX_ClearFaultMemory has no run time
    // Log text of the not-connected answer, up to and including "name=".
    std::string_view not_connected_log;
    // Log text of the audit fallback, up to and including "name=".
    std::string_view fallback_log;
    bool fallback_log_shows_mode;
    // Read type and context kind of the audit fallback's probe; none: the
    // request's "type".
    std::optional<std::string_view> probe_kind;
    // fallbackReason inserted into the probe result on the audit fallback.
    std::string_view fallback_reason;
};

// The request values every command export reads: name, mode (ASCII
// lowercased) and, where the export reads it, type.
struct GateRequest {
    GateRequest(const RequestFields& request, const GateProfile& profile);

    std::string name;
    std::string mode;
    std::string type;              // only when the profile names no probe kind
    std::uint32_t timeout_ms = 0;  // read_gate_times
    std::uint32_t max_run_ms = 0;  // read_gate_times; 0 when the export does not read it
};

// Runs the read-only function-click probe under kind with the request's name
// and time-out, and inserts `members` (finished, each beginning with a comma)
// and then fallbackReason before the probe result's closing brace.
std::string fallback_probe_answer(std::string_view kind, const GateRequest& request, std::string_view members,
                                  std::string_view reason);

// Gate steps 3 to 5. Returns the answer that ends the call, or nothing when
// the command may go ahead with the request's times read. simulation_answer
// builds the export's simulated answer (and writes its log line); it is
// called only with the switch on.
std::optional<std::string> answer_before_send(const GateProfile& profile, const RequestFields& fields,
                                              GateRequest& request,
                                              const std::function<std::string()>& simulation_answer);

// One frame write as the gate judges it.
struct FrameWrite {
    j2534::Status rc = 0;
    std::uint32_t written = 0;
    // Counts as sent only when the device accepted exactly this one message.
    bool sent() const { return rc == 0 && written == 1; }
};

// Writes the frame with TxFlags 0 (the stop frames: no clearing first).
FrameWrite send_frame(const Bytes& frame, std::uint32_t timeout_ms);
// Clears the channel's transmit and receive queues (best effort, result not
// used), then sends the frame.
FrameWrite clear_and_send_frame(const Bytes& frame, std::uint32_t timeout_ms);

// Up to kReplyMessagesMax messages, each read waiting at most per_read_timeout_ms.
RxList collect_replies(std::uint32_t per_read_timeout_ms);

// The answer of a command refused before anything was sent: ok false, the
// stage, commandSent false and the message.
std::string command_refusal(std::string_view stage, std::string_view message);

// Pauses the calling thread; a pause of 0 is skipped.
void pause_ms(std::uint32_t milliseconds);

// The stop frame's members: ,"stopRc":N,"stopRcName":"..","stopMessagesWritten":N,
// "stopHex":"..","stopRx":[...]; without a frame only stopRc and
// stopMessagesWritten.
void append_stop_outcome(ResultWriter& w, const FrameWrite& write, const Bytes* frame, std::string_view rx);

// The pieces of a result of a command that went through the frame send; each
// export puts its own members between them.
// {"ok":..,"stage":"..","commandSent":..,"ecuResponseSeen":.. (replies seen)
void append_command_head(ResultWriter& w, bool ok, std::string_view stage, bool command_sent, std::uint32_t rx_count);
// The command frame's write and replies, in the order of append_write_report.
void append_command_write(ResultWriter& w, const FrameWrite& write, const Bytes& frame, const RxList& replies);
// ,"message":".."} ends the result.
void append_command_message(ResultWriter& w, std::string_view message);

}  // namespace vx::commands
