// The battery voltage the PassThru interface measures (J2534 READ_VBATT).
#pragma once

#include <cstdint>

#include "j2534/status_text.h"

namespace vx::j2534 {

// No PassThruIoctl bound or no channel open: nothing could be asked.
inline constexpr Status kVbattUnavailable = -1;

struct VbattReading {
    Status rc = kVbattUnavailable;
    std::uint32_t milli_volts = 0;  // 0 when the device wrote nothing
};

// SAE J2534-1 04.04, 7.3.8: PassThruIoctl(channel, READ_VBATT, NULL, &mV).
// Asked on the channel id, not the device id.
VbattReading read_vbatt();

}  // namespace vx::j2534
