// The simulated vehicle behind the simulated PassThru device's K-line.
//
// A vehicle is a battery and a few ECUs on one K-line, described by a JSON
// profile (sim/vehicles/default.json is built into the library;
// sim/vehicles/README.md describes the format). An ECU sleeps until a
// five-baud initialisation at its wake address (ISO 9141-2) answers with its
// key bytes; from then on it answers the frames that reach it, each after its
// P2 time, until the line is initialised again or the channel closes.
//
// Time on the line is modelled: every byte takes 10 bit times at the
// channel's baud rate (start bit, 8 data bits, stop bit), the five-baud
// address takes 2 s (10 bits at 5 baud), and replies become
// readable when their last byte has arrived. All waiting goes through
// wait_us(), which either sleeps, advances a virtual clock (tests), or is
// skipped entirely when the vehicle runs instantly.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "j2534/passthru.h"

namespace vxsim {

using Bytes = std::vector<std::uint8_t>;

// ---- The profile ----

enum class EcuProtocol { Iso9141_2, Kwp71 };

// ISO 9141-2 timing parameters, in milliseconds. The
// defaults lie inside the standard's ranges: W1 60..300, W2 5..20, W3 0..20,
// W4 25..50, P2 25..50.
struct EcuTiming {
    std::uint32_t p2_ms = 30;  // request end to reply start
    std::uint32_t w1_ms = 60;  // address end to sync byte
    std::uint32_t w2_ms = 10;  // sync byte to key byte 1
    std::uint32_t w3_ms = 10;  // key byte 1 to key byte 2
    std::uint32_t w4_ms = 30;  // key byte 2 to its inversion, and on to the inverted address
};

// An ISO 9141-2 request (the bytes after the 68 6A F1 header, no checksum)
// and the data of the answer (after the 48 6B <source> header, no checksum).
struct ObdAnswer {
    Bytes request;
    Bytes response;
};

// A KWP71 block title and the block the ECU answers it with.
struct Kwp71Answer {
    std::uint8_t title = 0;
    std::uint8_t reply_title = 0;
    Bytes reply_data;
};

struct EcuProfile {
    std::string name;
    EcuProtocol protocol = EcuProtocol::Iso9141_2;
    std::uint8_t wake_address = 0;
    Bytes key_bytes;
    EcuTiming timing;
    // ISO 9141-2: the third header byte of the answers (the ECU's own
    // address), whether a request without a valid checksum is ignored, and
    // the answers.
    std::uint8_t source_address = 0x10;
    bool require_checksum = false;
    std::vector<ObdAnswer> obd_answers;
    // KWP71: the answered titles, and the title of the block that answers any
    // other title (a NAK), if any.
    std::vector<Kwp71Answer> kwp71_answers;
    std::optional<std::uint8_t> unknown_title_reply;
};

struct VehicleProfile {
    std::string name;
    std::uint32_t battery_millivolts = 12600;
    bool instant = false;
    std::vector<EcuProfile> ecus;
};

// Reads a profile from its JSON text. On failure returns false, leaves `out`
// as it was and says what is wrong in `error` (member path and reason).
bool parse_vehicle_profile(std::string_view json_text, VehicleProfile& out, std::string& error);

// The same from a file.
bool load_vehicle_profile_file(const std::string& path, VehicleProfile& out, std::string& error);

// The profile built into the library (sim/vehicles/default.json).
const VehicleProfile& builtin_vehicle_profile();

// ---- Time ----

// The model's clock: microseconds of a steady clock, or of the virtual clock
// while it is in use.
std::uint64_t now_us();

// The one place the model waits: sleeps, or advances the virtual clock.
void wait_us(std::uint64_t microseconds);

// The virtual clock: on, it starts at 0 and moves only by wait_us().
void use_virtual_clock(bool on);
std::uint64_t virtual_elapsed_us();

// ---- The vehicle ----

// The J2534-1 04.04 statuses the vehicle answers with.
using vx::j2534::kErrBufferEmpty;
using vx::j2534::kErrFailed;
using vx::j2534::kErrTimeout;
using vx::j2534::kStatusNoError;

class Vehicle {
public:
    // The vehicle of the built-in profile.
    Vehicle();
    explicit Vehicle(VehicleProfile profile);

    const VehicleProfile& profile() const { return profile_; }
    void set_profile(VehicleProfile profile);
    void set_instant(bool instant) { instant_ = instant; }
    bool instant() const { return instant_; }

    // A new channel (or none): every ECU falls asleep and the line is quiet.
    void connect(unsigned long baud_rate, unsigned long connect_flags);
    void disconnect();
    // SET_CONFIG DATA_RATE.
    void set_baud_rate(unsigned long baud_rate);

    struct InitOutcome {
        long status = kStatusNoError;
        Bytes key_bytes;
        std::uint64_t wait_us = 0;  // how long the ioctl blocks
    };
    // FIVE_BAUD_INIT at this address.
    InitOutcome five_baud_init(std::uint8_t address);

    struct TxOutcome {
        long status = kStatusNoError;
        std::uint64_t wait_us = 0;  // how long PassThruWriteMsgs blocks
    };
    // One message handed to PassThruWriteMsgs with this write time-out.
    TxOutcome transmit(const std::uint8_t* data, std::size_t size, unsigned long tx_flags,
                       unsigned long timeout_ms);

    struct RxOutcome {
        long status = kStatusNoError;  // 0, or ERR_TIMEOUT / ERR_BUFFER_EMPTY
        Bytes data;
        std::uint32_t timestamp_us = 0;
        std::uint64_t wait_us = 0;  // how long PassThruReadMsgs blocks
    };
    // One message from PassThruReadMsgs with this read time-out.
    RxOutcome receive(unsigned long timeout_ms);

    // CLEAR_RX_BUFFER: drops the replies already received.
    void clear_received();

    // The awake ECU's wake address, if one is awake.
    std::optional<std::uint8_t> awake_address() const;

private:
    struct Reply {
        Bytes data;
        std::uint64_t ready_at_us = 0;  // when its last byte has arrived
    };

    std::uint64_t span_us(std::uint64_t microseconds) const { return instant_ ? 0 : microseconds; }
    std::uint64_t bytes_us(std::size_t count) const;
    std::optional<Bytes> answer(const EcuProfile& ecu, const Bytes& wire) const;

    VehicleProfile profile_;
    bool instant_ = false;
    unsigned long baud_rate_ = 10400;
    unsigned long connect_flags_ = 0;
    std::optional<std::size_t> awake_;  // index into profile_.ecus
    std::uint64_t line_free_at_us_ = 0;
    std::deque<Reply> replies_;
};

// The ISO 9141-2 checksum: the sum of the bytes modulo 256 (ISO 9141-2).
std::uint8_t iso9141_checksum(const std::uint8_t* data, std::size_t size);

}  // namespace vxsim
