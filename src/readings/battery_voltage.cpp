// VX_ReadBatteryVoltage and its volt texts.
#include "readings/battery_voltage.h"

#include "core/raw_log.h"
#include "core/result_writer.h"
#include "core/simulation_switch.h"
#include "j2534/read_vbatt.h"

namespace vx::readings {

namespace {

// Volts with exactly one decimal ("12.6") and with exactly six ("12.600000"),
// both computed from the whole millivolt value in integer arithmetic. The
// six-decimal form is always exact (1 mV = 0.001 V). The one-decimal form
// rounds to the nearest tenth, and a value exactly half-way (a millivolt value
// ending in 50, e.g. 12650) goes up, away from zero: 12.7. Binary floating
// point would round such values either way depending on how 12.65 happens to
// be stored, so the display would not be predictable.
std::string volts_one_decimal(std::uint32_t milli_volts) {
    return tenths_text((static_cast<std::uint64_t>(milli_volts) + 50u) / 100u);
}

std::string volts_six_decimals(std::uint32_t milli_volts) {
    // The millivolts past the whole volts as three digits, leading zeros kept.
    const std::string millis = std::to_string(1000u + milli_volts % 1000u).substr(1);
    return std::to_string(milli_volts / 1000u) + "." + millis + "000";
}

}  // namespace

std::string read_battery_voltage() {
    if (simulation_on()) {
        return "{\"ok\":true,\"available\":true,\"simulation\":true,\"volts\":12.6,"
               "\"vbattMilliV\":12600,\"display\":\"12.6V\",\"message\":\"Simulation battery voltage.\"}";
    }
    const j2534::VbattReading reading = j2534::read_vbatt();
    ResultWriter w;
    if (reading.rc != 0 || reading.milli_volts == 0) {
        w.raw("{\"ok\":true,\"available\":false,\"display\":\"----\"");
        j2534::append_vbatt_status(w, reading.rc);
        w.raw(",\"message\":\"Battery voltage unavailable; no J2534 channel/value is available.\"}");
        log_line(" VX_ReadBatteryVoltage unavailable rc=" + std::to_string(reading.rc));
        return w.take();
    }
    const std::string volts = volts_one_decimal(reading.milli_volts);
    w.raw("{\"ok\":true,\"available\":true,\"volts\":").raw(volts);
    w.raw(",\"vbattMilliV\":").unsigned_number(reading.milli_volts);
    w.raw(",\"display\":\"").raw(volts).raw("V\",\"message\":\"Battery voltage read from J2534 READ_VBATT.\"}");
    log_line(" VX_ReadBatteryVoltage volts=" + volts_six_decimals(reading.milli_volts));
    return w.take();
}

}  // namespace vx::readings
