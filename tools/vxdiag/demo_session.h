// The demo: a whole diagnostic session in the order a desktop host makes its
// calls, against the two ECUs of the simulated vehicle (readings from the OBD
// ECU, probes and commands at the KWP71 ECU), ending with the raw log.
#pragma once

#include "step_catalogue.h"

#include <string>
#include <vector>

namespace vxdiag {

// The steps of the demo, as they would be written for "vxdiag run".
std::vector<std::string> demo_step_texts();

// The demo's steps ("open" takes the session's library).
std::vector<Step> demo_steps();

}  // namespace vxdiag
