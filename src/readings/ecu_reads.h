// Fault and live-data reads. Neither decodes ECU data: on an open channel they
// run the read probe with an OBD-style request and hand back what it saw.
#pragma once

#include <cstdint>
#include <string>

namespace vx::readings {

// The simulated live-data result for one tick-count reading (ms since system
// start, wrapping at 2^32).
std::string simulated_live_data(std::uint32_t ticks);

}  // namespace vx::readings
