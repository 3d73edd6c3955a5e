#include "exchange/frame_exchange.h"

#include <algorithm>
#include <cstring>

#include "core/core_state.h"
#include "core/result_writer.h"
#include "core/text_utils.h"

namespace vx {

j2534::Status WriteFrame(const std::uint8_t* data, std::uint32_t length, std::uint32_t txFlags,
                         std::uint32_t timeoutMs, std::uint32_t& written) {
    written = 0;
    const CoreState& state = core_state();
    // A frame that does not fit the message data area is refused rather than
    // cut short: a truncated frame is a different frame on the line.
    if (state.channel_id == 0 || state.entry.write_msgs == nullptr || data == nullptr || length == 0 ||
        length > j2534::kMsgDataCapacity) {
        return kWriteFrameRefused;
    }

    PASSTHRU_MSG message{};
    message.ProtocolID = j2534::kProtocolIso9141;
    message.TxFlags = txFlags;
    message.DataSize = length;
    message.ExtraDataIndex = length;  // no extra data after the frame bytes
    std::memcpy(message.Data, data, length);

    unsigned long numMsgs = 1;
    const long rc = state.entry.write_msgs(state.channel_id, &message, &numMsgs, timeoutMs);
    written = static_cast<std::uint32_t>(numMsgs);
    return j2534::to_status(rc);
}

j2534::Status WriteFrame(const std::uint8_t* data, std::uint32_t length, std::uint32_t timeoutMs,
                         std::uint32_t& written) {
    return WriteFrame(data, length, 0, timeoutMs, written);
}

std::string ReadRxList(std::uint32_t maxMessages, std::uint32_t timeoutMs, std::uint32_t& count) {
    count = 0;
    std::string list = "[";
    const CoreState& state = core_state();
    if (state.channel_id == 0 || state.entry.read_msgs == nullptr) {
        list += ']';
        return list;
    }

    PASSTHRU_MSG message;
    while (count < maxMessages) {
        std::memset(&message, 0, sizeof message);
        unsigned long numMsgs = 1;
        const long rc = state.entry.read_msgs(state.channel_id, &message, &numMsgs, timeoutMs);
        if (j2534::to_status(rc) != 0 || numMsgs == 0) {
            break;
        }
        // Only one message was offered; a device that claims more still
        // delivered at most this one, and only this one is rendered.
        if (count != 0) {
            list += ',';
        }
        AppendRxEntry(list, message);
        ++count;
    }
    list += ']';
    return list;
}

j2534::Status ClearTxRxBuffers() {
    const CoreState& state = core_state();
    const auto clear = [&state](unsigned long ioctlId) -> j2534::Status {
        if (state.entry.ioctl == nullptr || state.channel_id == 0) {
            return kClearBuffersUnavailable;
        }
        return j2534::to_status(state.entry.ioctl(state.channel_id, ioctlId, nullptr, nullptr));
    };
    const j2534::Status tx = clear(j2534::kIoctlClearTxBuffer);
    const j2534::Status rx = clear(j2534::kIoctlClearRxBuffer);
    return tx != 0 ? tx : rx;
}

void AppendRxEntry(std::string& out, const PASSTHRU_MSG& message) {
    // The device's DataSize is shown as reported, but never read beyond the
    // data area the message actually has.
    const std::size_t shown = static_cast<std::size_t>(
        std::min<unsigned long>(message.DataSize, static_cast<unsigned long>(j2534::kMsgDataCapacity)));

    out += "{\"protocol\":";
    append_unsigned(out, message.ProtocolID);
    out += ",\"rxStatus\":";
    append_unsigned(out, message.RxStatus);
    out += ",\"txFlags\":";
    append_unsigned(out, message.TxFlags);
    out += ",\"timestamp\":";
    append_unsigned(out, message.Timestamp);
    out += ",\"size\":";
    append_unsigned(out, message.DataSize);
    // Hex digits and blanks need no JSON escaping.
    out += ",\"hex\":\"";
    append_hex_bytes(out, message.Data, shown);
    out += "\"}";
}

void AppendAttemptObject(std::string& out, const AttemptReport& attempt) {
    ResultWriter w;
    w.raw("{\"name\":\"")
        .text(attempt.name)
        .raw("\",\"writeRc\":")
        .signed_number(attempt.writeRc)
        .raw(",\"writeRcName\":\"")
        .text(j2534::status_name(attempt.writeRc))
        .raw("\",\"txHex\":\"")
        .hex(attempt.tx.data(), attempt.tx.size())
        .raw("\",\"txFlags\":")
        .unsigned_number(attempt.txFlags)
        .raw(",\"txMessagesWritten\":")
        .unsigned_number(attempt.txMessagesWritten)
        .raw(",\"rxCount\":")
        .unsigned_number(attempt.rxCount)
        .raw(",\"rx\":")
        .raw(attempt.rx)
        .raw("}");
    out += w.str();
}

std::string AttemptObjectText(const AttemptReport& attempt) {
    std::string text;
    AppendAttemptObject(text, attempt);
    return text;
}

}  // namespace vx
