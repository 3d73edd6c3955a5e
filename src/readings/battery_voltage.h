// The battery voltage as the host displays it.
#pragma once

#include <cstdint>
#include <string>

namespace vx::readings {

// Volts with exactly one decimal ("12.6") and with exactly six ("12.600000"),
// both computed from the whole millivolt value in integer arithmetic. The
// six-decimal form is always exact (1 mV = 0.001 V). The one-decimal form
// rounds to the nearest tenth, and a value exactly half-way (a millivolt value
// ending in 50, e.g. 12650) goes up, away from zero: 12.7. Binary floating
// point would round such values either way depending on how 12.65 happens to
// be stored, so the display would not be predictable.
std::string volts_one_decimal(std::uint32_t milli_volts);
std::string volts_six_decimals(std::uint32_t milli_volts);

// The result text of VX_ReadBatteryVoltage. Must run inside the export guard.
std::string read_battery_voltage();

}  // namespace vx::readings
