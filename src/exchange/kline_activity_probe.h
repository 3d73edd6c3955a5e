// The K-line activity probe: does the interface actually drive the K-line
// (pin 7 of the vehicle connector)?
#pragma once

#include <string>

namespace vx {

// Sends the four fixed activity frames on the open ISO 9141 channel until the
// device confirms one as transmitted, and returns the result text. Needs an
// open channel but no confirmed ECU initialisation. Must run inside the
// export guard.
std::string kline_activity_probe();

}  // namespace vx
