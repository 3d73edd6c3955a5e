// The process environment, the same calls on every OS. Discovery reads HOME
// through here; tests set variables to point the core at their own data.
#pragma once

#include <optional>
#include <string>

namespace vx::platform {

// The variable's value, or nothing when it is not set.
std::optional<std::string> environment_variable(const char* name);

// Sets the variable for this process (and programs it starts); a null value
// removes it. Returns false when the OS refuses.
bool set_environment_variable(const char* name, const char* value);

}  // namespace vx::platform
