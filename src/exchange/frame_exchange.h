// The one place where frames go onto the K-line and messages come off it.
//
// All three operations work on the open ISO 9141 channel of the core state
// and read the channel id and entry points at every call; they keep no state.
// Each device call gets exactly one zero-filled PASSTHRU_MSG and a message
// count of 1 (SAE J2534-1 04.04, 7.3.5 and 7.3.6).
//
// Usual order: ClearTxRxBuffers, WriteFrame, then at once ReadRxList.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "j2534/passthru.h"
#include "j2534/status_text.h"

namespace vx {

// WriteFrame refused before calling the device: no channel, no
// PassThruWriteMsgs, no data, length 0, or longer than the message data area.
inline constexpr j2534::Status kWriteFrameRefused = -200;
// ClearTxRxBuffers: no PassThruIoctl entry point or no channel.
inline constexpr j2534::Status kClearBuffersUnavailable = -1;

// Sends one frame of 1..4128 bytes unchanged (no checksum or header added) as
// an ISO9141 message with the given TxFlags (0, or 0x200 ISO9141_NO_CHECKSUM).
// written receives the message count the device left (0 on refusal); the
// device's status is returned unchanged.
j2534::Status WriteFrame(const std::uint8_t* data, std::uint32_t length, std::uint32_t txFlags,
                         std::uint32_t timeoutMs, std::uint32_t& written);
// The same with TxFlags 0.
j2534::Status WriteFrame(const std::uint8_t* data, std::uint32_t length, std::uint32_t timeoutMs,
                         std::uint32_t& written);

// Reads up to maxMessages messages, one PassThruReadMsgs call each with
// timeoutMs, and stops at the first call that brings nothing (non-zero status
// or a count of 0). Returns the rx list text ("[]" when nothing was read or
// no channel is open); count receives its number of entries.
std::string ReadRxList(std::uint32_t maxMessages, std::uint32_t timeoutMs, std::uint32_t& count);

// CLEAR_TX_BUFFER then CLEAR_RX_BUFFER; the first non-zero code, else the
// second. -1 for a step that cannot be made. Callers ignore it.
j2534::Status ClearTxRxBuffers();

// Appends one rx entry:
// {"protocol":P,"rxStatus":R,"txFlags":T,"timestamp":S,"size":N,"hex":"..."}
// size is the DataSize the device reported; hex never reads past the 4128-byte
// data area, however large that DataSize is.
void AppendRxEntry(std::string& out, const PASSTHRU_MSG& message);

// One transmitted frame as the probes report it.
struct AttemptReport {
    std::string_view name;
    j2534::Status writeRc = 0;
    std::span<const std::uint8_t> tx;
    std::uint32_t txFlags = 0;
    std::uint32_t txMessagesWritten = 0;
    std::uint32_t rxCount = 0;
    std::string_view rx = "[]";  // a finished rx list, inserted verbatim
};

// Appends the attempt object:
// {"name":"..","writeRc":N,"writeRcName":"..","txHex":"..","txFlags":N,
//  "txMessagesWritten":N,"rxCount":N,"rx":[...]}
void AppendAttemptObject(std::string& out, const AttemptReport& attempt);
std::string AttemptObjectText(const AttemptReport& attempt);

}  // namespace vx
