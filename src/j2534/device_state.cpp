#include "j2534/device_state.h"

namespace vx::j2534 {

namespace {
// Constant-initialised, so no code runs at load, and never destroyed: a
// library still bound when the process ends is left to the operating
// system, as freeing it while the core itself is unloaded is not safe on
// Windows.
union NeverDestroyed {
    DeviceState state;
    constexpr ~NeverDestroyed() {}
};
constinit NeverDestroyed g_holder{DeviceState{}};
}  // namespace

void DeviceState::release_channel() noexcept {
    if (channel_id == 0 || device_id == 0) return;
    entry.disconnect(channel_id);
    channel_id = 0;
    ecu_init_confirmed = false;
}

void DeviceState::unload() noexcept {
    release_channel();
    if (device_id != 0) {
        entry.close(device_id);
        device_id = 0;
    }
    library.close();
    // Swapped out rather than cleared, so its memory is freed too: the
    // record itself is never destroyed.
    std::string().swap(library_path);
    entry = EntryPoints{};
}

DeviceState& device_state() { return g_holder.state; }

void reset_device_state_for_tests() { g_holder.state = DeviceState{}; }

}  // namespace vx::j2534
