#include "j2534/device_state.h"

namespace vx::j2534 {

namespace {
// Constant-initialised: every member has a constexpr default, so no code runs at load.
DeviceState g_state;
}  // namespace

DeviceState& device_state() { return g_state; }

void reset_device_state_for_tests() { g_state = DeviceState{}; }

}  // namespace vx::j2534
