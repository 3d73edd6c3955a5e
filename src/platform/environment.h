// The process environment and starting a helper program, the same calls on
// every OS. Discovery reads HOME through here; tests use the rest to point the
// core at their own data.
#pragma once

#include <optional>
#include <string>

namespace vx::platform {

// The variable's value, or nothing when it is not set.
std::optional<std::string> environment_variable(const char* name);

// Sets the variable for this process (and programs it starts); a null value
// removes it. Returns false when the OS refuses.
bool set_environment_variable(const char* name, const char* value);

// Runs a program and waits for it. On Windows the command line goes to
// CreateProcessA as it is (no command interpreter, so % and quotes reach the
// program unchanged); elsewhere it goes to /bin/sh. Returns the program's
// exit code, or -1 when it could not be started.
int run_program(const std::string& command_line);

}  // namespace vx::platform
