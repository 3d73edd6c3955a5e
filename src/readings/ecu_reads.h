// Fault and live-data reads. Neither decodes ECU data: on an open channel they
// run the read probe with an OBD-style request and hand back what it saw.
#pragma once

#include <cstdint>
#include <string>

namespace vx::readings {

// The simulated live-data result for one tick-count reading (ms since system
// start, wrapping at 2^32).
std::string simulated_live_data(std::uint32_t ticks);

// The result texts of VX_ReadFaults and VX_ReadLiveData. Must run inside the
// export guard.
std::string read_faults();
std::string read_live_data();

}  // namespace vx::readings
