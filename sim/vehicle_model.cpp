// The simulated vehicle on the K-line: its clock, the five-baud wake-up and
// the line's timing; what an ECU answers is in vehicle_scripts.cpp, the
// profile reader in vehicle_profile.cpp.
#include "vehicle_model.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <utility>

namespace vxsim {
namespace {

// ISO9141_NO_CHECKSUM: in TxFlags, or as a connect flag for the whole
// channel, the device sends the message as given instead of appending the
// ISO 9141-2 checksum.
constexpr unsigned long kNoChecksumFlag = vx::j2534::kFlagIso9141NoChecksum;
// The five-baud address: 10 bits at 5 baud. Without an answer the tester
// gives up after W1 max, 300 ms (ISO 9141-2).
constexpr std::uint64_t kFiveBaudAddressUs = 2'000'000;
constexpr std::uint64_t kW1MaxUs = 300'000;
// The K-line default of ISO 9141-2 when a channel names no rate.
constexpr unsigned long kDefaultBaudRate = 10400;

// ---- The clock ----

std::atomic<bool> g_virtual_clock{false};
std::atomic<std::uint64_t> g_virtual_now_us{0};

std::chrono::steady_clock::time_point clock_base() {
    static const auto base = std::chrono::steady_clock::now();
    return base;
}

}  // namespace

std::uint64_t now_us() {
    if (g_virtual_clock.load()) return g_virtual_now_us.load();
    const auto elapsed = std::chrono::steady_clock::now() - clock_base();
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count());
}

void wait_us(std::uint64_t microseconds) {
    if (microseconds == 0) return;
    if (g_virtual_clock.load()) {
        g_virtual_now_us += microseconds;
        return;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(microseconds));
}

void use_virtual_clock(bool on) {
    g_virtual_now_us = 0;
    g_virtual_clock = on;
}

std::uint64_t virtual_elapsed_us() { return g_virtual_now_us.load(); }

// ---- The vehicle ----

Vehicle::Vehicle() : Vehicle(builtin_vehicle_profile()) {}

Vehicle::Vehicle(VehicleProfile profile) : profile_(std::move(profile)), instant_(profile_.instant) {}

void Vehicle::set_profile(VehicleProfile profile) {
    profile_ = std::move(profile);
    instant_ = profile_.instant;
    awake_.reset();
    replies_.clear();
}

void Vehicle::connect(unsigned long baud_rate, unsigned long connect_flags) {
    baud_rate_ = baud_rate != 0 ? baud_rate : kDefaultBaudRate;
    connect_flags_ = connect_flags;
    disconnect();
}

void Vehicle::disconnect() {
    awake_.reset();
    replies_.clear();
    line_free_at_us_ = 0;
}

void Vehicle::set_baud_rate(unsigned long baud_rate) {
    if (baud_rate != 0) baud_rate_ = baud_rate;
}

std::optional<std::uint8_t> Vehicle::awake_address() const {
    if (!awake_) return std::nullopt;
    return profile_.ecus[*awake_].wake_address;
}

std::uint64_t Vehicle::bytes_us(std::size_t count) const {
    // 10 bit times a byte, rounded to the nearest microsecond.
    const std::uint64_t bits = static_cast<std::uint64_t>(count) * 10u;
    return span_us((bits * 1'000'000u + baud_rate_ / 2) / baud_rate_);
}

Vehicle::InitOutcome Vehicle::five_baud_init(std::uint8_t address) {
    const std::uint64_t now = now_us();
    // The line starts over: whatever was awake or on its way is gone.
    awake_.reset();
    replies_.clear();
    std::uint64_t t = std::max(now, line_free_at_us_) + span_us(kFiveBaudAddressUs);

    InitOutcome outcome;
    const auto found = std::find_if(profile_.ecus.begin(), profile_.ecus.end(),
                                    [&](const EcuProfile& ecu) { return ecu.wake_address == address; });
    if (found == profile_.ecus.end()) {
        // No sync byte within W1 max: no ECU answers this address.
        t += span_us(kW1MaxUs);
        outcome.status = kErrFailed;
    } else {
        // ISO 9141-2: after W1 the sync byte 55, after W2 key byte 1, after W3
        // key byte 2; after W4 the tester sends key byte 2 inverted, and after
        // W4 again the ECU the address inverted.
        const EcuTiming& tm = found->timing;
        t += span_us(tm.w1_ms * 1000ull) + bytes_us(1);
        for (std::size_t i = 0; i < found->key_bytes.size(); ++i) {
            t += span_us((i == 0 ? tm.w2_ms : tm.w3_ms) * 1000ull) + bytes_us(1);
        }
        t += 2 * (span_us(tm.w4_ms * 1000ull) + bytes_us(1));
        awake_ = static_cast<std::size_t>(found - profile_.ecus.begin());
        outcome.key_bytes = found->key_bytes;
    }
    line_free_at_us_ = t;
    outcome.wait_us = t - now;
    return outcome;
}

Vehicle::TxOutcome Vehicle::transmit(const std::uint8_t* data, std::size_t size, unsigned long tx_flags,
                                     unsigned long timeout_ms) {
    const std::uint64_t now = now_us();
    Bytes wire(data, data + size);
    if (((tx_flags | connect_flags_) & kNoChecksumFlag) == 0) {
        wire.push_back(iso9141_checksum(wire.data(), wire.size()));
    }

    // The K-line is half duplex: a frame waits for the line to be free.
    const std::uint64_t sent_at = std::max(now, line_free_at_us_) + bytes_us(wire.size());
    line_free_at_us_ = sent_at;
    if (awake_) {
        const EcuProfile& ecu = profile_.ecus[*awake_];
        if (std::optional<Bytes> reply = answer(ecu, wire)) {
            const std::uint64_t ready = sent_at + span_us(ecu.timing.p2_ms * 1000ull) + bytes_us(reply->size());
            replies_.push_back({std::move(*reply), ready});
            line_free_at_us_ = ready;
        }
    }

    // J2534-1 04.04: with a time-out of 0 the message is queued and the call
    // returns at once; otherwise it returns once the message is on the line,
    // or with ERR_TIMEOUT when that takes longer than the time-out (the
    // message still goes out).
    TxOutcome outcome;
    if (timeout_ms == 0) return outcome;
    const std::uint64_t limit = span_us(timeout_ms * 1000ull);
    if (sent_at - now > limit) {
        outcome.status = kErrTimeout;
        outcome.wait_us = limit;
    } else {
        outcome.wait_us = sent_at - now;
    }
    return outcome;
}

Vehicle::RxOutcome Vehicle::receive(unsigned long timeout_ms) {
    const std::uint64_t now = now_us();
    const std::uint64_t deadline = now + span_us(timeout_ms * 1000ull);
    RxOutcome outcome;
    if (!replies_.empty() && replies_.front().ready_at_us <= deadline) {
        Reply& reply = replies_.front();
        outcome.data = std::move(reply.data);
        // J2534 time stamps are in microseconds and wrap at 32 bits.
        outcome.timestamp_us = static_cast<std::uint32_t>(reply.ready_at_us & 0xFFFFFFFFu);
        outcome.wait_us = reply.ready_at_us > now ? reply.ready_at_us - now : 0;
        replies_.pop_front();
        return outcome;
    }
    // J2534-1 04.04: nothing within a time-out is ERR_TIMEOUT; an empty
    // queue without one is ERR_BUFFER_EMPTY.
    outcome.status = timeout_ms == 0 ? kErrBufferEmpty : kErrTimeout;
    outcome.wait_us = deadline - now;
    return outcome;
}

void Vehicle::clear_received() {
    const std::uint64_t now = now_us();
    std::erase_if(replies_, [&](const Reply& reply) { return reply.ready_at_us <= now; });
}

}  // namespace vxsim
