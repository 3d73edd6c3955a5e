// Loading one PassThru device library, binding its entry points, opening
// its device, and releasing all of it again.
#pragma once

#include <string>

namespace vx::j2534 {

// Releases the current binding, loads the library at path exactly as given,
// binds the entry points (seven required, two optional) and opens the default
// device. Returns the result text of VX_OpenJ2534Dll.
std::string open_device_library(const char* path);

// Releases the binding and puts the core into simulation mode with a fresh
// KWP71 block counter. Returns the result text of VX_CloseJ2534.
std::string close_device_library();

}  // namespace vx::j2534
