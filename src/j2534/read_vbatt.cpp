#include "j2534/read_vbatt.h"

#include "j2534/device_state.h"

namespace vx::j2534 {

namespace {

VbattReading ask_vbatt(const DeviceState& state, unsigned long id) {
    VbattReading reading;
    unsigned long value = 0;
    reading.rc = to_status(state.entry.ioctl(id, kIoctlReadVbatt, nullptr, &value));
    // The J2534 output is a 32-bit unsigned millivolt count; on LP64 hosts only
    // its low 32 bits are meaningful.
    reading.milli_volts = static_cast<std::uint32_t>(value);
    return reading;
}

}  // namespace

VbattReading read_vbatt() {
    const DeviceState& state = device_state();
    if (state.entry.ioctl == nullptr || state.channel_id == 0) return {};
    // READ_VBATT is a device ioctl in J2534-1 04.04 (7.3.8.3): a device that
    // checks ids refuses the channel id, and then the device id is asked.
    // Lenient devices answer the channel id and see one call only.
    const VbattReading on_channel = ask_vbatt(state, state.channel_id);
    if (on_channel.rc != kErrInvalidChannelId) return on_channel;
    return ask_vbatt(state, state.device_id);
}

void append_vbatt_status(ResultWriter& w, Status rc) {
    w.raw(",\"readVBattRc\":").signed_number(rc);
    w.raw(",\"readVBattRcName\":\"").text(status_name(rc)).raw("\"");
}

void append_vbatt_capture(ResultWriter& w, const VbattReading& reading) {
    append_vbatt_status(w, reading.rc);
    w.raw(",\"vbattMilliV\":").unsigned_number(reading.milli_volts);
}

}  // namespace vx::j2534
