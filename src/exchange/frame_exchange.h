// The one place where frames go onto the K-line and messages come off it,
// and the JSON fragments that report a transmitted frame.
//
// The three device operations work on the open ISO 9141 channel and read the
// channel id and entry points at every call; they keep no state. Each device
// call gets exactly one zero-filled PASSTHRU_MSG and a message count of 1
// (SAE J2534-1 04.04, 7.3.5 and 7.3.6).
//
// Usual order: clear_tx_rx_buffers, write_frame, then at once read_rx_list.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "core/result_writer.h"
#include "j2534/passthru.h"

namespace vx {

// The answer of a probe that needs the ISO 9141 channel when none is open.
inline constexpr std::string_view kChannelNotOpenAnswer =
    "{\"ok\":false,\"stage\":\"not-connected\",\"message\":\"ISO9141 channel is not open.\"}";

// Sends one frame of 1..4128 bytes unchanged (no checksum or header added) as
// an ISO9141 message with the given TxFlags (0, or ISO9141_NO_CHECKSUM).
// written receives the message count the device left; the device's status is
// returned unchanged. A frame is refused (kCodeFrameRefused, written 0)
// before the device is called when no channel or writer is there, when it is
// empty, and when it does not fit the message data area.
j2534::Status write_frame(std::span<const std::uint8_t> frame, std::uint32_t tx_flags, std::uint32_t timeout_ms,
                          std::uint32_t& written);

// Received messages rendered as a JSON list.
struct RxList {
    std::string json = "[]";
    std::uint32_t count = 0;
};

// How long a collection of replies goes on: at most max_messages messages,
// each read waiting at most timeout_ms.
struct ReadLimits {
    std::uint32_t max_messages;
    std::uint32_t timeout_ms;
};

// Reads up to the limit's messages, one PassThruReadMsgs call each, and stops
// at the first call that brings nothing (non-zero status or a count of 0).
// Each entry is
// {"protocol":P,"rxStatus":R,"txFlags":T,"timestamp":S,"size":N,"hex":"..."}
// where size is the DataSize the device reported and hex never reads past the
// 4128-byte data area. Nothing is read without an open channel.
RxList read_rx_list(ReadLimits limits);

// CLEAR_TX_BUFFER then CLEAR_RX_BUFFER; the first non-zero status, else the
// second; kCodeUnavailable for a step that cannot be made. Callers ignore it.
j2534::Status clear_tx_rx_buffers();

// One written frame and what came back after it.
struct WriteOutcome {
    j2534::Status rc = 0;
    std::span<const std::uint8_t> tx;
    std::uint32_t tx_flags = 0;
    std::uint32_t written = 0;
    std::uint32_t rx_count = 0;
    std::string rx = "[]";  // a finished rx list
};

// One attempt of a probe: writes the frame, then reads up to the limit's
// replies (read_rx_list), whatever the write's status.
WriteOutcome send_and_read(std::span<const std::uint8_t> frame, std::uint32_t tx_flags, std::uint32_t timeout_ms,
                           ReadLimits replies);

// The members that report a write and what came back after it. Each result
// lists them in its own order.
// ,"writeRc":N,"writeRcName":".."
void append_write_status(ResultWriter& w, j2534::Status rc);
// ,"txHex":".."
void append_tx_hex(ResultWriter& w, std::span<const std::uint8_t> tx);
// ,"txMessagesWritten":N
void append_messages_written(ResultWriter& w, std::uint32_t written);
// ,"rxCount":N,"rx":[...]
void append_replies(ResultWriter& w, std::uint32_t rx_count, std::string_view rx);
// The order of the backend-forward and command results: status, messages
// written, txHex, replies.
void append_write_report(ResultWriter& w, const WriteOutcome& outcome);

// Appends the attempt object {"name":"..",status,txHex,txFlags,messages
// written,replies}.
void append_attempt_object(ResultWriter& w, std::string_view name, const WriteOutcome& outcome);

// The attempt's log fields " TX=.. flags=N wrRc=N written=N rxCount=N".
std::string attempt_log_fields(const WriteOutcome& outcome);

}  // namespace vx
