// VX_ReadBatteryVoltage and the volt texts shared with the command results.
#include "readings/battery_voltage.h"

#include "VXArvessaDiagCore.h"
#include "core/core_state.h"
#include "core/export_guard.h"
#include "core/raw_log.h"
#include "core/result_writer.h"

namespace vx::readings {

std::string volts_one_decimal(std::uint32_t milli_volts) {
    const std::uint64_t tenths = (static_cast<std::uint64_t>(milli_volts) + 50u) / 100u;
    std::string text = unsigned_text(tenths / 10u);
    text.push_back('.');
    text.push_back(static_cast<char>('0' + tenths % 10u));
    return text;
}

std::string volts_six_decimals(std::uint32_t milli_volts) {
    std::string text = unsigned_text(milli_volts / 1000u);
    text.push_back('.');
    const std::uint32_t fraction = milli_volts % 1000u;
    text.push_back(static_cast<char>('0' + fraction / 100u));
    text.push_back(static_cast<char>('0' + fraction / 10u % 10u));
    text.push_back(static_cast<char>('0' + fraction % 10u));
    text.append("000");
    return text;
}

namespace {

std::string read_battery_voltage() {
    if (core_state().simulation) {
        return "{\"ok\":true,\"available\":true,\"simulation\":true,\"volts\":12.6,"
               "\"vbattMilliV\":12600,\"display\":\"12.6V\",\"message\":\"Simulation battery voltage.\"}";
    }
    const VbattReading reading = read_vbatt();
    ResultWriter w;
    if (reading.rc != 0 || reading.milli_volts == 0) {
        w.raw("{\"ok\":true,\"available\":false,\"display\":\"----\",\"readVBattRc\":")
            .signed_number(reading.rc)
            .raw(",\"readVBattRcName\":\"")
            .text(j2534::status_name(reading.rc))
            .raw("\",\"message\":\"Battery voltage unavailable; no J2534 channel/value is available.\"}");
        log_line(" VX_ReadBatteryVoltage unavailable rc=" + decimal_text(reading.rc));
        return w.take();
    }
    const std::string volts = volts_one_decimal(reading.milli_volts);
    w.raw("{\"ok\":true,\"available\":true,\"volts\":")
        .raw(volts)
        .raw(",\"vbattMilliV\":")
        .unsigned_number(reading.milli_volts)
        .raw(",\"display\":\"")
        .raw(volts)
        .raw("V\",\"message\":\"Battery voltage read from J2534 READ_VBATT.\"}");
    log_line(" VX_ReadBatteryVoltage volts=" + volts_six_decimals(reading.milli_volts));
    return w.take();
}

}  // namespace
}  // namespace vx::readings

extern "C" VX_API int VX_CALL VX_ReadBatteryVoltage(char* buffer, int size) {
    return vx::guarded_result(buffer, size, [] { return vx::readings::read_battery_voltage(); });
}
