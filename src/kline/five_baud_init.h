// Wakes the ECU on the open ISO 9141 channel with the 5-baud initialisation.
#pragma once

#include <cstdint>
#include <string>

namespace vx {

// The most key bytes offered to and reported from FIVE_BAUD_INIT: room to
// spare, as an ISO 9141-2 ECU answers its 5-baud address with two.
inline constexpr std::uint32_t kFiveBaudKeyBytesCapacity = 16;

// Sends the low byte of ecu_address through the J2534 FIVE_BAUD_INIT ioctl and
// returns the result text. Sets the ECU-init-confirmed flag to the outcome and
// restarts the KWP71 block counter on success. In simulation mode it only
// marks the ECU as initialised.
std::string try_five_baud_init(std::uint32_t ecu_address);

}  // namespace vx
