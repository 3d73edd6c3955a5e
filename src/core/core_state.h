// The one process-wide record of the core's state.
//
// It has static initial values only: nothing runs at library load to set it
// up. Every export reaches it through the export guard, which holds the core
// lock for the whole call.
#pragma once

#include <cstdint>
#include <string>

#include "j2534/passthru.h"
#include "platform/dynamic_library.h"

namespace vx {

// The bound PassThru entry points, in the order they are looked up.
struct EntryPoints {
    PTOPEN open = nullptr;
    PTCLOSE close = nullptr;
    PTCONNECT connect = nullptr;
    PTDISCONNECT disconnect = nullptr;
    PTREADMSGS read_msgs = nullptr;
    PTWRITEMSGS write_msgs = nullptr;
    PTIOCTL ioctl = nullptr;
    PTGETLASTERROR get_last_error = nullptr;  // optional
};

struct CoreState {
    // Counter byte for the next KWP71 block when a request gives none; 1..255.
    std::uint8_t kwp71_block_counter = 1;
    std::string library_path;
    platform::LibraryHandle library = nullptr;
    // J2534 ids are passed back to the device unchanged; 0 means none.
    unsigned long device_id = 0;
    unsigned long channel_id = 0;
    bool ecu_init_confirmed = false;
    bool simulation = false;
    EntryPoints entry;
};

// The process-wide instance. Only code running inside the export guard may
// touch it.
CoreState& core_state();

// Test support: puts every field back to its initial value without calling
// the device library (tests unload through VX_CloseJ2534 first).
void reset_core_state_for_tests();

}  // namespace vx
