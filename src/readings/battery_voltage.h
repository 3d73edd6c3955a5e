// VX_ReadBatteryVoltage: the battery voltage as the host displays it.
#pragma once

#include <string>

namespace vx::readings {

// The result text of VX_ReadBatteryVoltage. Must run inside the export guard.
std::string read_battery_voltage();

}  // namespace vx::readings
