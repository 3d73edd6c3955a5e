#include "commands/command_gate.h"

#include "core/raw_log.h"
#include "core/request_reader.h"
#include "core/result_writer.h"
#include "exchange/backend_forward_probe.h"
#include "exchange/frame_exchange.h"
#include "platform/clock.h"

namespace vx::commands {

namespace {
constexpr std::string_view kNotConnectedAnswer =
    "{\"ok\":false,\"stage\":\"not-connected\",\"commandSent\":false,\"noTx\":true,"
    "\"message\":\"Connect ECU first. No ISO9141/J2534 channel is open.\"}";
}  // namespace

std::uint32_t clamp_ms(int value, int low, int high) {
    if (value < low) value = low;
    if (value > high) value = high;
    return static_cast<std::uint32_t>(value);
}

GateRequest read_gate_request(const char* request, const GateProfile& profile) {
    GateRequest out;
    out.name = request_text(request, "name");
    out.mode = ascii_lowercase(request_text(request, "mode"));
    out.timeout_ms = clamp_ms(request_int(request, "timeoutMs", profile.timeout_default_ms),
                              kTimeoutMinMs, kTimeoutMaxMs);
    if (profile.reads_max_run) {
        out.max_run_ms = clamp_ms(request_int(request, "maxRunMs", kMaxRunDefaultMs), kMaxRunMinMs,
                                  kMaxRunMaxMs);
    }
    return out;
}

std::string not_connected_answer(const GateProfile& profile, const GateRequest& request) {
    std::string line(profile.not_connected_log);
    line.append(request.name);
    log_line(line);
    return std::string(kNotConnectedAnswer);
}

std::string audit_fallback_answer(const GateProfile& profile, const GateRequest& request,
                                  std::string_view probe_kind) {
    std::string result = RunFunctionFallbackProbe(probe_kind, std::string_view(request.name),
                                                  request.timeout_ms);
    ResultWriter members;
    members.raw(",\"ecuInitConfirmed\":false,\"fallbackReason\":\"")
        .text(profile.fallback_reason)
        .raw("\"");
    insert_members(result, members.str());

    std::string line(profile.fallback_log);
    line.append(request.name);
    if (profile.fallback_log_shows_mode) {
        line.append(" mode=");
        line.append(request.mode);
    }
    log_line(line);
    return result;
}

FrameWrite write_frame(const Bytes& frame, std::uint32_t timeout_ms) {
    FrameWrite out;
    out.rc = WriteFrame(frame.data(), static_cast<std::uint32_t>(frame.size()), timeout_ms, out.written);
    return out;
}

FrameWrite send_frame(const Bytes& frame, std::uint32_t timeout_ms) {
    static_cast<void>(ClearTxRxBuffers());  // best effort; a stale queue only adds noise
    return write_frame(frame, timeout_ms);
}

Replies collect_replies(std::uint32_t per_read_timeout_ms) {
    Replies out;
    out.rx = ReadRxList(kReplyMessagesMax, per_read_timeout_ms, out.count);
    return out;
}

std::string command_refusal(std::string_view stage, std::string_view message) {
    ResultWriter w;
    w.raw("{\"ok\":false,\"stage\":\"")
        .text(stage)
        .raw("\",\"commandSent\":false,\"message\":\"")
        .text(message)
        .raw("\"}");
    return w.take();
}

void pause_ms(std::uint32_t milliseconds) {
    if (milliseconds > 0) platform::sleep_ms(milliseconds);
}

std::string command_result(const CommandReport& report) {
    ResultWriter w;
    w.raw("{\"ok\":")
        .boolean(report.ok)
        .raw(",\"stage\":\"")
        .text(report.stage)
        .raw("\",\"commandSent\":")
        .boolean(report.command_sent)
        .raw(",\"ecuResponseSeen\":")
        .boolean(report.rx_count != 0)
        .raw(report.after_response_seen)
        .raw(",\"writeRc\":")
        .signed_number(report.write.rc)
        .raw(",\"writeRcName\":\"")
        .text(j2534::status_name(report.write.rc))
        .raw("\",\"txMessagesWritten\":")
        .unsigned_number(report.write.written)
        .raw(",\"txHex\":\"");
    if (report.frame != nullptr) w.hex(*report.frame);
    w.raw("\",\"rxCount\":")
        .unsigned_number(report.rx_count)
        .raw(",\"rx\":")
        .raw(report.rx)
        .raw(report.after_rx)
        .raw(",\"readVBattRc\":")
        .signed_number(report.vbatt.rc)
        .raw(",\"readVBattRcName\":\"")
        .text(j2534::status_name(report.vbatt.rc))
        .raw("\",\"vbattMilliV\":")
        .unsigned_number(report.vbatt.milli_volts)
        .raw(report.after_vbatt)
        .raw(",\"message\":\"")
        .text(report.message)
        .raw("\"}");
    return w.take();
}

}  // namespace vx::commands
