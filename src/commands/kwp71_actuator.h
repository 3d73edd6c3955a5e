#pragma once

#include <string>

namespace vx::commands {

// The result text of VX_RunActuatorKwp71 for the request text (null: an empty request).
// Must run inside the export guard.
std::string run_actuator(const char* request_text);

}  // namespace vx::commands
