#include "core/core_state.h"

namespace vx {

namespace {
// Constant-initialised: every member has a constexpr default, so no code runs at load.
CoreState g_state;
}  // namespace

CoreState& core_state() { return g_state; }

void reset_core_state_for_tests() {
    g_state.kwp71_block_counter = 1;
    g_state.library_path.clear();
    g_state.library = nullptr;
    g_state.device_id = 0;
    g_state.channel_id = 0;
    g_state.ecu_init_confirmed = false;
    g_state.simulation = false;
    g_state.entry = EntryPoints{};
}

}  // namespace vx
