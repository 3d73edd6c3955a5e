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
#include <optional>
#include <string>
#include <string_view>

#include "core/core_state.h"
#include "core/text_utils.h"
#include "j2534/status_text.h"
#include "readings/battery_voltage.h"

namespace vx::commands {

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
    // fallbackReason inserted into the probe result on the audit fallback.
    std::string_view fallback_reason;
};

// The request values every command export reads.
struct GateRequest {
    std::string name;
    std::string mode;  // ASCII lowercased
    std::uint32_t timeout_ms = 0;
    std::uint32_t max_run_ms = 0;  // 0 when the export does not read it
};

// Clamps value into [low, high] (low >= 0).
std::uint32_t clamp_ms(int value, int low, int high);

// Reads name, mode (lowercased), timeoutMs and, where the export reads it,
// maxRunMs; clamps both. A null request reads as empty.
GateRequest read_gate_request(const char* request, const GateProfile& profile);

// The not-connected answer (same in all three exports) with the export's
// log line.
std::string not_connected_answer(const GateProfile& profile, const GateRequest& request);

// Runs the read-only backend-forward probe with probe_kind, the request's name
// and its clamped time-out; inserts ecuInitConfirmed false and the export's
// fallbackReason as the last members of the probe's result (a result without
// '}' is returned unchanged) and logs the export's fallback line after the
// probe's own lines.
std::string audit_fallback_answer(const GateProfile& profile, const GateRequest& request,
                                  std::string_view probe_kind);

// Gate steps 3 to 5. Returns the answer that ends the call, or nothing when
// the command may go ahead. simulation_answer builds the export's simulated
// answer (and writes its log line); it is called only with the switch on.
template <typename SimulationAnswer>
std::optional<std::string> answer_before_send(const GateProfile& profile, const GateRequest& request,
                                              std::string_view probe_kind,
                                              SimulationAnswer&& simulation_answer) {
    const CoreState& state = core_state();
    if (state.simulation) return simulation_answer();
    if (state.channel_id == 0) return not_connected_answer(profile, request);
    if (!state.ecu_init_confirmed) return audit_fallback_answer(profile, request, probe_kind);
    return std::nullopt;
}

// One frame write as the gate judges it.
struct FrameWrite {
    j2534::Status rc = 0;
    std::uint32_t written = 0;
    // Counts as sent only when the device accepted exactly this one message.
    bool sent() const { return rc == 0 && written == 1; }
};

// Clears the channel's transmit and receive queues (best effort, result not
// used), then writes the frame with TxFlags 0.
FrameWrite send_frame(const Bytes& frame, std::uint32_t timeout_ms);
// Writes the frame without clearing first (the stop frames).
FrameWrite write_frame(const Bytes& frame, std::uint32_t timeout_ms);

struct Replies {
    std::string rx = "[]";  // a finished rx list
    std::uint32_t count = 0;
};
// Up to kReplyMessagesMax messages, each read waiting at most per_read_timeout_ms.
Replies collect_replies(std::uint32_t per_read_timeout_ms);

// The answer of a command refused before anything was sent: ok false, the
// stage, commandSent false and the message.
std::string command_refusal(std::string_view stage, std::string_view message);

// Pauses the calling thread; a pause of 0 is skipped.
void pause_ms(std::uint32_t milliseconds);

// The shared layout of a result of a command that went through the frame
// send. The three `extra` fragments are finished member texts that begin with
// a comma (or are empty) and stand where each export adds its own members.
struct CommandReport {
    bool ok = false;
    std::string_view stage;
    bool command_sent = false;
    std::string_view after_response_seen;  // VX_RunActuatorKwp71: sequence, nextSequence, blockLength
    FrameWrite write;
    const Bytes* frame = nullptr;
    std::uint32_t rx_count = 0;  // as reported; ecuResponseSeen follows it
    std::string_view rx = "[]";
    std::string_view after_rx;     // VX_ClearFaultMemory: stopRc, stopMessagesWritten
    readings::VbattReading vbatt;
    std::string_view after_vbatt;  // VX_RunSafeFunction: the stop frame members
    std::string_view message;
};
std::string command_result(const CommandReport& report);

}  // namespace vx::commands
