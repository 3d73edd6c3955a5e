#include "exchange/frame_exchange.h"

#include <algorithm>
#include <cstring>

#include "core/text_utils.h"
#include "j2534/device_state.h"
#include "j2534/status_text.h"

namespace vx {

namespace {

void append_rx_entry(std::string& out, const PASSTHRU_MSG& message) {
    // The device's DataSize is shown as reported, but never read beyond the
    // data area the message actually has.
    const std::size_t shown = static_cast<std::size_t>(
        std::min<unsigned long>(message.DataSize, static_cast<unsigned long>(j2534::kMsgDataCapacity)));

    out += "{\"protocol\":" + std::to_string(message.ProtocolID);
    out += ",\"rxStatus\":" + std::to_string(message.RxStatus);
    out += ",\"txFlags\":" + std::to_string(message.TxFlags);
    out += ",\"timestamp\":" + std::to_string(message.Timestamp);
    out += ",\"size\":" + std::to_string(message.DataSize);
    // Hex digits and blanks need no JSON escaping.
    out += ",\"hex\":\"" + hex_bytes_text({message.Data, shown}) + "\"}";
}

}  // namespace

j2534::Status write_frame(std::span<const std::uint8_t> frame, std::uint32_t tx_flags, std::uint32_t timeout_ms,
                          std::uint32_t& written) {
    written = 0;
    const j2534::DeviceState& state = j2534::device_state();
    // A frame that does not fit the message data area is refused rather than
    // cut short: a truncated frame is a different frame on the line.
    if (state.channel_id == 0 || state.entry.write_msgs == nullptr || frame.empty() ||
        frame.size() > j2534::kMsgDataCapacity) {
        return j2534::kCodeFrameRefused;
    }

    PASSTHRU_MSG message{};
    message.ProtocolID = j2534::kProtocolIso9141;
    message.TxFlags = tx_flags;
    message.DataSize = static_cast<unsigned long>(frame.size());
    message.ExtraDataIndex = message.DataSize;  // no extra data after the frame bytes
    std::memcpy(message.Data, frame.data(), frame.size());

    unsigned long num_msgs = 1;
    const long rc = state.entry.write_msgs(state.channel_id, &message, &num_msgs, timeout_ms);
    written = static_cast<std::uint32_t>(num_msgs);
    return j2534::to_status(rc);
}

RxList read_rx_list(ReadLimits limits) {
    RxList list;
    const j2534::DeviceState& state = j2534::device_state();
    if (state.channel_id == 0 || state.entry.read_msgs == nullptr) return list;

    list.json.pop_back();  // reopen "[]"
    PASSTHRU_MSG message;
    while (list.count < limits.max_messages) {
        std::memset(&message, 0, sizeof message);
        unsigned long num_msgs = 1;
        const long rc = state.entry.read_msgs(state.channel_id, &message, &num_msgs, limits.timeout_ms);
        if (j2534::to_status(rc) != 0 || num_msgs == 0) break;
        // Only one message was offered; a device that claims more still
        // delivered at most this one, and only this one is rendered.
        if (list.count != 0) list.json += ',';
        append_rx_entry(list.json, message);
        ++list.count;
    }
    list.json += ']';
    return list;
}

j2534::Status clear_tx_rx_buffers() {
    const j2534::DeviceState& state = j2534::device_state();
    const auto clear = [&state](unsigned long ioctl_id) -> j2534::Status {
        if (state.entry.ioctl == nullptr || state.channel_id == 0) return j2534::kCodeUnavailable;
        return j2534::to_status(state.entry.ioctl(state.channel_id, ioctl_id, nullptr, nullptr));
    };
    const j2534::Status tx = clear(j2534::kIoctlClearTxBuffer);
    const j2534::Status rx = clear(j2534::kIoctlClearRxBuffer);
    return tx != 0 ? tx : rx;
}

WriteOutcome send_and_read(std::span<const std::uint8_t> frame, std::uint32_t tx_flags, std::uint32_t timeout_ms,
                           ReadLimits replies) {
    WriteOutcome outcome{.tx = frame, .tx_flags = tx_flags};
    outcome.rc = write_frame(frame, tx_flags, timeout_ms, outcome.written);
    RxList rx = read_rx_list(replies);
    outcome.rx_count = rx.count;
    outcome.rx = std::move(rx.json);
    return outcome;
}

void append_write_status(ResultWriter& w, j2534::Status rc) {
    w.raw(",\"writeRc\":").signed_number(rc);
    w.raw(",\"writeRcName\":\"").text(j2534::status_name(rc)).raw("\"");
}

void append_tx_hex(ResultWriter& w, std::span<const std::uint8_t> tx) { w.raw(",\"txHex\":\"").hex(tx).raw("\""); }

void append_messages_written(ResultWriter& w, std::uint32_t written) {
    w.raw(",\"txMessagesWritten\":").unsigned_number(written);
}

void append_replies(ResultWriter& w, std::uint32_t rx_count, std::string_view rx) {
    w.raw(",\"rxCount\":").unsigned_number(rx_count).raw(",\"rx\":").raw(rx);
}

void append_write_report(ResultWriter& w, const WriteOutcome& outcome) {
    append_write_status(w, outcome.rc);
    append_messages_written(w, outcome.written);
    append_tx_hex(w, outcome.tx);
    append_replies(w, outcome.rx_count, outcome.rx);
}

void append_attempt_object(ResultWriter& w, std::string_view name, const WriteOutcome& outcome) {
    w.raw("{\"name\":\"").text(name).raw("\"");
    append_write_status(w, outcome.rc);
    append_tx_hex(w, outcome.tx);
    w.raw(",\"txFlags\":").unsigned_number(outcome.tx_flags);
    append_messages_written(w, outcome.written);
    append_replies(w, outcome.rx_count, outcome.rx);
    w.raw("}");
}

std::string attempt_log_fields(const WriteOutcome& outcome) {
    return " TX=" + hex_bytes_text(outcome.tx) + " flags=" + std::to_string(outcome.tx_flags) +
           " wrRc=" + std::to_string(outcome.rc) + " written=" + std::to_string(outcome.written) +
           " rxCount=" + std::to_string(outcome.rx_count);
}

}  // namespace vx
