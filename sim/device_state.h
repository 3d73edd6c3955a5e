// The simulated device's state: what the back door scripts and the entry
// points answer from, one per process, behind one lock.
#pragma once

#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "j2534/passthru.h"
#include "passthru_sim_control.h"
#include "vehicle_model.h"

namespace vxsim {

#if defined(SIM_LENIENT)
constexpr bool kLenientByDefault = true;
#else
constexpr bool kLenientByDefault = false;
#endif

// One receive filter of the open channel.
struct Filter {
    unsigned long id = 0;
    unsigned long type = 0;
    std::vector<unsigned char> mask;
    std::vector<unsigned char> pattern;
};

struct QueuedReply {
    std::vector<unsigned char> data;
    sim_reply fields{};
    unsigned long release_at = 0;  // successful writes needed
};

struct State {
    long status_all[SIM_FN_COUNT] = {};
    std::map<unsigned int, long> status_nth[SIM_FN_COUNT];
    std::deque<long> status_queue[SIM_FN_COUNT];
    std::map<unsigned long, long> ioctl_status;
    std::map<unsigned long, std::deque<long>> ioctl_queue;
    unsigned int calls_made[SIM_FN_COUNT] = {};
    unsigned int delay_ms[SIM_FN_COUNT] = {};

    unsigned long device_id = 1;
    unsigned long channel_id = 2;
    unsigned long battery_millivolts = 12600;
    // ISO 9141-2 key bytes KB1 KB2 after the 0x55 sync byte.
    unsigned char keys[SIM_MAX_INIT_BYTES] = {0x08, 0x08};
    unsigned long key_count = 2;
    unsigned long key_reported = 2;
    std::vector<char> last_error;
    long last_error_status = vx::j2534::kStatusNoError;

    std::deque<QueuedReply> replies;
    long read_empty_status = vx::j2534::kErrBufferEmpty;
    long long read_reported = -1;
    long long write_reported = -1;
    std::deque<long long> write_count_queue;  // per call, before write_reported
    bool strict_ids = false;
    bool clear_rx_discards = false;
    unsigned long successful_writes = 0;
    bool device_open = false;
    bool channel_open = false;
    unsigned long channel_protocol = 0;
    bool lenient = kLenientByDefault;
    unsigned int unwritten = 0;  // SIM_UNWRITTEN_*
    std::vector<Filter> filters;
    unsigned long next_filter_id = 1;

    std::vector<sim_call> calls;

    // The simulated vehicle, answering whatever the scripting above leaves
    // to the device while it is on.
    bool vehicle_on = false;
    vxsim::Vehicle vehicle;
    std::string vehicle_error;  // why the last profile load failed
    std::string open_refusal;   // set when the host's profile cannot be read
    bool no_device = false;     // VXSIM_NO_DEVICE: no VCI plugged in
};
// The lock every entry point and back-door call holds while it uses the state.
std::mutex& sim_mutex();

// The state, as a host finds it on first use (see device_state.cpp).
State& state();

inline bool valid_function(int function) { return function >= 0 && function < SIM_FN_COUNT; }

}  // namespace vxsim
