// The bound PassThru library and what the core holds of its device: one
// process-wide record, constant-initialised so nothing runs at library load,
// and reached only inside the export guard, which holds the core lock for the
// whole call. Each rule on it lives in one operation below.
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
    platform::Library library;
    // Whatever the library exports; whenever a device is open, all seven
    // required entry points are bound.
    EntryPoints entry;
    // J2534 ids are passed back to the device unchanged; 0 means none. A
    // simulated connect leaves the placeholder channel 1 without a device.
    unsigned long device_id = 0;
    unsigned long channel_id = 0;
    bool ecu_init_confirmed = false;
    // Counter byte for the next KWP71 block when a request gives none; 1..255
    // (every operation below keeps it there, so a block never carries 0).
    std::uint8_t kwp71_block_counter = 1;

    // A device just opened has no channel yet: a placeholder channel left by
    // a simulated connect must not survive, or commands would go to a
    // channel that was never connected.
    void device_opened(unsigned long id) {
        device_id = id;
        channel_id = 0;
        ecu_init_confirmed = false;
    }
    // A new channel (or the simulated placeholder) starts its KWP71 blocks
    // from counter 1.
    void start_channel(unsigned long id) {
        channel_id = id;
        reset_block_counter();
    }
    // Disconnects the device's channel; its status is ignored. Without a
    // device the channel id can only be the placeholder of a simulated
    // connect, which no library handed out, so it is left alone.
    void release_channel() noexcept;
    // An ECU confirmed on the channel starts its KWP71 blocks from counter 1.
    void confirm_ecu_init() {
        ecu_init_confirmed = true;
        reset_block_counter();
    }
    void reset_block_counter() { kwp71_block_counter = 1; }
    // After a block with counter `used` counted as sent: used + 1, and 1 after 255.
    void block_sent(std::uint8_t used) {
        kwp71_block_counter = used == 255 ? std::uint8_t{1} : static_cast<std::uint8_t>(used + 1);
    }
    // Releases the channel, closes the device (status ignored), frees the
    // library and forgets its path and entry points. Leaves the block
    // counter alone.
    void unload() noexcept;
};

// The process-wide instance. Only code running inside the export guard may
// touch it.
DeviceState& device_state();

// For tests: every field back to its initial value, without calling the
// device library (tests unload through VX_CloseJ2534 first).
void reset_device_state_for_tests();

}  // namespace vx::j2534
