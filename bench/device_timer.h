// Measures the time the core spends inside the bound device library.
//
// DeviceTimer::install() replaces the bound entry points in the device state (bound
// by VX_OpenJ2534Dll) with wrappers that call the device's own functions and
// add the steady-clock time of each call to a running total. The wall time of
// an export minus device_ns() is then the core's own time, whatever the device
// does meanwhile (a scripted delay, the simulated device's call record).
// Install again after every VX_OpenJ2534Dll, which rebinds; VX_CloseJ2534 and
// the unload go through the wrappers, which is harmless.
//
// Used by the benchmarks only; it needs no test framework.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

#include "j2534/device_state.h"
#include "j2534/passthru.h"

namespace vx::bench {

class DeviceTimer {
public:
    static std::uint64_t now_ns() {
        return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                              std::chrono::steady_clock::now().time_since_epoch())
                                              .count());
    }

    // Wraps every bound entry point (an unbound one stays null).
    static void install() {
        j2534::EntryPoints& entry = j2534::device_state().entry;
        // Already wrapped (no rebind since): keep the device's own functions.
        if (entry.read_msgs != nullptr && entry.read_msgs == &timed_read_msgs) return;
        device() = entry;
        if (entry.open != nullptr) entry.open = &timed_open;
        if (entry.close != nullptr) entry.close = &timed_close;
        if (entry.connect != nullptr) entry.connect = &timed_connect;
        if (entry.disconnect != nullptr) entry.disconnect = &timed_disconnect;
        if (entry.read_msgs != nullptr) entry.read_msgs = &timed_read_msgs;
        if (entry.write_msgs != nullptr) entry.write_msgs = &timed_write_msgs;
        if (entry.ioctl != nullptr) entry.ioctl = &timed_ioctl;
        if (entry.get_last_error != nullptr) entry.get_last_error = &timed_get_last_error;
    }

    // Called on entering (true) and leaving (false) every device call, e.g. to
    // leave the device out of an instruction count; null for none.
    static inline void (*around_device)(bool entering) = nullptr;

    // Nanoseconds spent inside the device and calls made since the start.
    static std::uint64_t device_ns() { return total_ns().load(std::memory_order_relaxed); }
    static std::uint64_t device_calls() { return total_calls().load(std::memory_order_relaxed); }

private:
    static j2534::EntryPoints& device() {
        static j2534::EntryPoints bound;
        return bound;
    }
    static std::atomic<std::uint64_t>& total_ns() {
        static std::atomic<std::uint64_t> value{0};
        return value;
    }
    static std::atomic<std::uint64_t>& total_calls() {
        static std::atomic<std::uint64_t> value{0};
        return value;
    }

    template <typename Call>
    static long timed(Call&& call) {
        if (around_device != nullptr) around_device(true);
        const std::uint64_t start = now_ns();
        const long rc = call();
        total_ns().fetch_add(now_ns() - start, std::memory_order_relaxed);
        total_calls().fetch_add(1, std::memory_order_relaxed);
        if (around_device != nullptr) around_device(false);
        return rc;
    }

    static long VX_WINAPI timed_open(void* name, unsigned long* device_id) {
        return timed([&] { return device().open(name, device_id); });
    }
    static long VX_WINAPI timed_close(unsigned long device_id) {
        return timed([&] { return device().close(device_id); });
    }
    static long VX_WINAPI timed_connect(unsigned long device_id, unsigned long protocol_id,
                                         unsigned long flags, unsigned long baud_rate,
                                         unsigned long* channel_id) {
        return timed([&] { return device().connect(device_id, protocol_id, flags, baud_rate, channel_id); });
    }
    static long VX_WINAPI timed_disconnect(unsigned long channel_id) {
        return timed([&] { return device().disconnect(channel_id); });
    }
    static long VX_WINAPI timed_read_msgs(unsigned long channel_id, PASSTHRU_MSG* msg,
                                           unsigned long* num_msgs, unsigned long timeout) {
        return timed([&] { return device().read_msgs(channel_id, msg, num_msgs, timeout); });
    }
    static long VX_WINAPI timed_write_msgs(unsigned long channel_id, PASSTHRU_MSG* msg,
                                            unsigned long* num_msgs, unsigned long timeout) {
        return timed([&] { return device().write_msgs(channel_id, msg, num_msgs, timeout); });
    }
    static long VX_WINAPI timed_ioctl(unsigned long channel_id, unsigned long ioctl_id, void* input,
                                       void* output) {
        return timed([&] { return device().ioctl(channel_id, ioctl_id, input, output); });
    }
    static long VX_WINAPI timed_get_last_error(char* description) {
        return timed([&] { return device().get_last_error(description); });
    }
};

}  // namespace vx::bench
