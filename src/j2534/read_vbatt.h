// The battery voltage the PassThru interface measures (J2534 READ_VBATT), and
// the members that report it.
#pragma once

#include <cstdint>

#include "core/result_writer.h"
#include "j2534/passthru.h"
#include "j2534/status_text.h"

namespace vx::j2534 {

struct VbattReading {
    Status rc = kCodeUnavailable;   // nothing could be asked
    std::uint32_t milli_volts = 0;  // 0 when the device wrote nothing
};

// SAE J2534-1 04.04, 7.3.8: PassThruIoctl(id, READ_VBATT, NULL, &mV). Asked
// on the channel id first; when the device answers ERR_INVALID_CHANNEL_ID,
// once more on the device id, and that second answer is the reading. The
// value starts at 0 for every call. Unavailable without an open channel or
// PassThruIoctl. The one place the core reads the battery.
VbattReading read_vbatt();

// ,"readVBattRc":N,"readVBattRcName":"NAME"
void append_vbatt_status(ResultWriter& w, Status rc);
// The status members, then ,"vbattMilliV":N
void append_vbatt_capture(ResultWriter& w, const VbattReading& reading);

}  // namespace vx::j2534
