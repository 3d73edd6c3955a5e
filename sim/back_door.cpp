// The back door of the simulated device (passthru_sim_control.h): what tests
// script and read back, each call under the device's lock.
#include <algorithm>
#include <cstring>
#include <string>

#include "device_state.h"

namespace {

using vxsim::QueuedReply;
using vxsim::sim_mutex;
using vxsim::State;
using vxsim::state;
using vxsim::valid_function;

// Takes a profile read by `load`, or keeps the current one and the reason.
template <typename Load>
int take_vehicle_profile(Load load) {
    std::lock_guard<std::mutex> lock(sim_mutex());
    State& s = state();
    vxsim::VehicleProfile profile;
    if (!load(profile, s.vehicle_error)) return 0;
    s.battery_millivolts = profile.battery_millivolts;
    s.vehicle.set_profile(std::move(profile));
    return 1;
}

// Runs `use` on the state under the device's lock and gives back its answer.
template <typename Use>
auto locked(Use use) {
    std::lock_guard<std::mutex> lock(sim_mutex());
    return use(state());
}

}  // namespace

extern "C" {

void sim_reset(void) {
    std::lock_guard<std::mutex> lock(sim_mutex());
    state() = State{};
    vxsim::use_virtual_clock(false);
}

void sim_set_status(int function, long status) {
    locked([&](State& s) { if (valid_function(function)) s.status_all[function] = status; });
}

void sim_set_status_nth(int function, unsigned int nth, long status) {
    locked([&](State& s) { if (valid_function(function)) s.status_nth[function][nth] = status; });
}

void sim_queue_status(int function, long status) {
    locked([&](State& s) { if (valid_function(function)) s.status_queue[function].push_back(status); });
}

void sim_set_ioctl_status(unsigned long ioctl_id, long status) {
    locked([&](State& s) { s.ioctl_status[ioctl_id] = status; });
}

void sim_queue_ioctl_status(unsigned long ioctl_id, long status) {
    locked([&](State& s) { s.ioctl_queue[ioctl_id].push_back(status); });
}

void sim_set_device_id(unsigned long device_id) { locked([&](State& s) { s.device_id = device_id; }); }
void sim_set_channel_id(unsigned long channel_id) { locked([&](State& s) { s.channel_id = channel_id; }); }

void sim_set_battery_millivolts(unsigned long millivolts) {
    locked([&](State& s) { s.battery_millivolts = millivolts; });
}

void sim_set_five_baud_keys(const unsigned char* keys, unsigned long count,
                            unsigned long reported_num_bytes) {
    std::lock_guard<std::mutex> lock(sim_mutex());
    State& s = state();
    s.key_count = keys != nullptr ? std::min<unsigned long>(count, SIM_MAX_INIT_BYTES) : 0;
    if (s.key_count != 0) std::memcpy(s.keys, keys, s.key_count);
    s.key_reported = reported_num_bytes;
}

void sim_set_last_error(const char* text, unsigned long length, long status) {
    std::lock_guard<std::mutex> lock(sim_mutex());
    State& s = state();
    const unsigned long kept = text != nullptr ? std::min<unsigned long>(length, SIM_LAST_ERROR_CAPACITY) : 0;
    s.last_error.assign(text, text + kept);
    s.last_error_status = status;
}

void sim_queue_reply(const sim_reply* reply) {
    if (reply == nullptr) return;
    std::lock_guard<std::mutex> lock(sim_mutex());
    State& s = state();
    QueuedReply queued;
    queued.fields = *reply;
    queued.fields.data = nullptr;
    const unsigned long size = std::min<unsigned long>(reply->size, SIM_MAX_FRAME);
    if (reply->data != nullptr) queued.data.assign(reply->data, reply->data + size);
    queued.release_at = s.successful_writes + reply->after_writes;
    s.replies.push_back(std::move(queued));
}

void sim_set_read_empty_status(long status) { locked([&](State& s) { s.read_empty_status = status; }); }
void sim_set_read_reported_count(long long count) { locked([&](State& s) { s.read_reported = count; }); }
void sim_set_write_reported_count(long long count) { locked([&](State& s) { s.write_reported = count; }); }
void sim_queue_write_count(long long count) { locked([&](State& s) { s.write_count_queue.push_back(count); }); }
void sim_set_strict_ids(int strict) { locked([&](State& s) { s.strict_ids = strict != 0; }); }
void sim_set_lenient(int lenient) { locked([&](State& s) { s.lenient = lenient != 0; }); }
void sim_set_unwritten(unsigned int outputs) { locked([&](State& s) { s.unwritten = outputs; }); }
void sim_set_clear_rx_discards(int discards) { locked([&](State& s) { s.clear_rx_discards = discards != 0; }); }

void sim_set_delay_ms(int function, unsigned int milliseconds) {
    locked([&](State& s) { if (valid_function(function)) s.delay_ms[function] = milliseconds; });
}

unsigned long sim_pending_replies(void) {
    return locked([&](State& s) { return static_cast<unsigned long>(s.replies.size()); });
}

unsigned long sim_successful_writes(void) { return locked([&](State& s) { return s.successful_writes; }); }

unsigned long sim_call_count(void) {
    return locked([&](State& s) { return static_cast<unsigned long>(s.calls.size()); });
}

int sim_get_call(unsigned long index, sim_call* out) {
    std::lock_guard<std::mutex> lock(sim_mutex());
    const State& s = state();
    if (out == nullptr || index >= s.calls.size()) return 0;
    *out = s.calls[index];
    return 1;
}

void sim_clear_calls(void) { locked([&](State& s) { s.calls.clear(); }); }
void sim_reserve_calls(unsigned long count) { locked([&](State& s) { s.calls.reserve(count); }); }

void sim_set_vehicle(int on) {
    std::lock_guard<std::mutex> lock(sim_mutex());
    State& s = state();
    s.vehicle_on = on != 0;
    if (s.vehicle_on) s.battery_millivolts = s.vehicle.profile().battery_millivolts;
}

int sim_load_vehicle_profile(const char* json_text) {
    return take_vehicle_profile([&](vxsim::VehicleProfile& profile, std::string& error) {
        if (json_text == nullptr) {
            error = "no profile text";
            return false;
        }
        return vxsim::parse_vehicle_profile(json_text, profile, error);
    });
}

int sim_load_vehicle_profile_file(const char* path) {
    return take_vehicle_profile([&](vxsim::VehicleProfile& profile, std::string& error) {
        if (path == nullptr) {
            error = "no profile path";
            return false;
        }
        return vxsim::load_vehicle_profile_file(path, profile, error);
    });
}

unsigned long sim_vehicle_profile_error(char* buffer, unsigned long size) {
    std::lock_guard<std::mutex> lock(sim_mutex());
    const std::string& error = state().vehicle_error;
    if (buffer != nullptr && size > 0) {
        const std::size_t kept = std::min<std::size_t>(error.size(), size - 1);
        std::copy_n(error.begin(), kept, buffer);
        buffer[kept] = '\0';
    }
    return static_cast<unsigned long>(error.size());
}

void sim_set_vehicle_instant(int instant) { locked([&](State& s) { s.vehicle.set_instant(instant != 0); }); }
void sim_use_virtual_clock(int on) { vxsim::use_virtual_clock(on != 0); }
unsigned long long sim_virtual_elapsed_us(void) { return vxsim::virtual_elapsed_us(); }

}  // extern "C"
