// Fault and live-data reads. Neither decodes ECU data: on an open channel they
// run the read probe with an OBD-style request and hand back what it saw.
#pragma once

#include <string>

namespace vx::readings {

// The result texts of VX_ReadFaults and VX_ReadLiveData. Must run inside the
// export guard.
std::string read_faults();
std::string read_live_data();

}  // namespace vx::readings
