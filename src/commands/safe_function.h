#pragma once

#include <string>

namespace vx::commands {

// The result text of VX_RunSafeFunction for the request text (null: an empty request).
// Must run inside the export guard.
std::string run_safe_function(const char* request_text);

}  // namespace vx::commands
