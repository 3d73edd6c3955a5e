// The bound PassThru library and what the core holds of its device.
//
// One process-wide record with static initial values only: nothing runs at
// library load to set it up. Every export reaches it through the export
// guard, which holds the core lock for the whole call. The binding writes
// the library fields; the channel connect and the five-baud initialisation
// write the channel id and the ECU-init-confirmed flag; the KWP71 actuator
// advances the block counter, which every new binding, channel and
// initialisation restarts.
#pragma once

#include <cstdint>
#include <string>

#include "j2534/passthru.h"
#include "platform/dynamic_library.h"

namespace vx::j2534 {

// The bound PassThru entry points, in the order they are looked up.
struct EntryPoints {
    PTOPEN open = nullptr;
    PTCLOSE close = nullptr;
    PTCONNECT connect = nullptr;
    PTDISCONNECT disconnect = nullptr;
    PTREADMSGS read_msgs = nullptr;
    PTWRITEMSGS write_msgs = nullptr;
    PTIOCTL ioctl = nullptr;
    PTGETLASTERROR get_last_error = nullptr;      // optional
    PTSTARTMSGFILTER start_msg_filter = nullptr;  // optional
};

struct DeviceState {
    std::string library_path;
    platform::LibraryHandle library = nullptr;
    // Whatever the library exports; whenever a device is open, all seven
    // required entry points are bound.
    EntryPoints entry;
    // J2534 ids are passed back to the device unchanged; 0 means none. A
    // simulated connect leaves the placeholder channel 1 without a device.
    unsigned long device_id = 0;
    unsigned long channel_id = 0;
    bool ecu_init_confirmed = false;
    // Counter byte for the next KWP71 block when a request gives none; 1..255.
    std::uint8_t kwp71_block_counter = 1;

    // An ECU confirmed on the channel starts its KWP71 blocks from counter 1.
    void confirm_ecu_init() {
        ecu_init_confirmed = true;
        kwp71_block_counter = 1;
    }
};

// The process-wide instance. Only code running inside the export guard may
// touch it.
DeviceState& device_state();

// For tests: every field back to its initial value, without calling the
// device library (tests unload through VX_CloseJ2534 first).
void reset_device_state_for_tests();

}  // namespace vx::j2534
