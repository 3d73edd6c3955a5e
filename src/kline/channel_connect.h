// Opens the one ISO 9141 K-line channel on the open PassThru device.
#pragma once

#include <cstdint>
#include <string>

namespace vx {

// The baud rate a connect uses when the host passes 0 (the host's contract).
// ISO 9141-2 itself runs at 10,400 baud, which a host asks for by value.
inline constexpr std::uint32_t kDefaultIso9141Baud = 9600;

// Releases an earlier channel, connects ISO9141 (K-line only) at baud_rate
// (0 selects 9600), configures DATA_RATE and LOOPBACK off, reads the battery
// voltage once, and returns the result text. In simulation mode it only marks
// a channel as open. Writes the channel id, the ECU-init-confirmed flag and
// the KWP71 block counter of the device state.
std::string connect_iso9141_channel(std::uint32_t baud_rate);

}  // namespace vx
