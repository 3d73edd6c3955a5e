#include "vehicle_model.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <thread>
#include <utility>

#include <nlohmann/json.hpp>

#include "default_vehicle_profile.h"

namespace vxsim {
namespace {

using json = nlohmann::json;

// SAE J2534-1 04.04: the largest message a PASSTHRU_MSG carries.
constexpr std::size_t kMaxMessageBytes = vx::j2534::kMsgDataCapacity;
// FIVE_BAUD_INIT hands back at most this many key bytes in the simulated device.
constexpr std::size_t kMaxKeyBytes = 16;
// ISO9141_NO_CHECKSUM: in TxFlags, or as a connect flag for the whole
// channel, the device sends the message as given instead of appending the
// ISO 9141-2 checksum.
constexpr unsigned long kNoChecksumFlag = vx::j2534::kFlagIso9141NoChecksum;
// ISO 9141-2 OBD headers: request 68 6A F1, response 48 6B <ECU address>.
constexpr std::uint8_t kRequestHeader[] = {0x68, 0x6A, 0xF1};
constexpr std::uint8_t kResponseHeader0 = 0x48;
constexpr std::uint8_t kResponseHeader1 = 0x6B;
// KWP71 blocks end with 03.
constexpr std::uint8_t kKwp71EndByte = 0x03;
// The five-baud address: 10 bits at 5 baud. Without an answer the tester
// gives up after W1 max, 300 ms (ISO 9141-2).
constexpr std::uint64_t kFiveBaudAddressUs = 2'000'000;
constexpr std::uint64_t kW1MaxUs = 300'000;
// The K-line default of ISO 9141-2 when a channel names no rate.
constexpr unsigned long kDefaultBaudRate = 10400;
// Longest timing value a profile may give, in ms.
constexpr std::uint64_t kMaxTimingMs = 60'000;

// ---- Profile reading ----

class ProfileError {
public:
    explicit ProfileError(std::string text) : text_(std::move(text)) {}
    const std::string& text() const { return text_; }

private:
    std::string text_;
};

[[noreturn]] void fail(const std::string& where, const std::string& what) {
    throw ProfileError(where + ": " + what);
}

std::string hex_byte(std::uint8_t value) {
    constexpr char kDigits[] = "0123456789ABCDEF";
    return {kDigits[value >> 4], kDigits[value & 0x0F]};
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Hex bytes such as "08 08" or "0808": pairs of digits, blanks between bytes.
Bytes hex_bytes(const json& value, const std::string& where, std::size_t min_count, std::size_t max_count) {
    const std::string example = " (hex bytes such as \"41 00\")";
    if (!value.is_string()) fail(where, "expected a text of hex bytes" + example);
    const std::string& text = value.get_ref<const std::string&>();
    Bytes out;
    int high = -1;
    for (const char c : text) {
        if (c == ' ') {
            if (high >= 0) fail(where, "a byte needs two hex digits" + example);
            continue;
        }
        const int digit = hex_digit(c);
        if (digit < 0) fail(where, std::string("'") + c + "' is not a hex digit" + example);
        if (high < 0) {
            high = digit;
        } else {
            out.push_back(static_cast<std::uint8_t>(high * 16 + digit));
            high = -1;
        }
    }
    if (high >= 0) fail(where, "a byte needs two hex digits" + example);
    if (out.size() < min_count || out.size() > max_count) {
        fail(where, "expected " + std::to_string(min_count) + " to " + std::to_string(max_count) +
                        " bytes, found " + std::to_string(out.size()));
    }
    return out;
}

std::uint8_t hex_one_byte(const json& value, const std::string& where) {
    return hex_bytes(value, where, 1, 1).front();
}

std::uint64_t unsigned_number(const json& value, const std::string& where, std::uint64_t max) {
    if (!value.is_number_unsigned() || value.get<std::uint64_t>() > max) {
        fail(where, "expected a whole number from 0 to " + std::to_string(max));
    }
    return value.get<std::uint64_t>();
}

bool boolean(const json& value, const std::string& where) {
    if (!value.is_boolean()) fail(where, "expected true or false");
    return value.get<bool>();
}

std::string text(const json& value, const std::string& where) {
    if (!value.is_string()) fail(where, "expected a text");
    return value.get<std::string>();
}

const json& array(const json& value, const std::string& where) {
    if (!value.is_array()) fail(where, "expected an array");
    return value;
}

// Every member must be one the format knows: a misspelt name is an error, not
// a silently missing setting.
void only_members(const json& object, const std::string& where, std::initializer_list<const char*> known) {
    if (!object.is_object()) fail(where, "expected an object");
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (std::none_of(known.begin(), known.end(), [&](const char* k) { return it.key() == k; })) {
            fail(where, "unknown member \"" + it.key() + "\"");
        }
    }
}

const json* member(const json& object, const char* name) {
    const auto it = object.find(name);
    return it == object.end() ? nullptr : &*it;
}

const json& required(const json& object, const std::string& where, const char* name) {
    const json* value = member(object, name);
    if (value == nullptr) fail(where, std::string("the member \"") + name + "\" is missing");
    return *value;
}

EcuTiming read_timing(const json& object, const std::string& where) {
    only_members(object, where, {"p2Ms", "w1Ms", "w2Ms", "w3Ms", "w4Ms"});
    EcuTiming timing;
    const std::pair<const char*, std::uint32_t*> fields[] = {
        {"p2Ms", &timing.p2_ms}, {"w1Ms", &timing.w1_ms}, {"w2Ms", &timing.w2_ms},
        {"w3Ms", &timing.w3_ms}, {"w4Ms", &timing.w4_ms}};
    for (const auto& [name, field] : fields) {
        if (const json* value = member(object, name)) {
            *field = static_cast<std::uint32_t>(unsigned_number(*value, where + "." + name, kMaxTimingMs));
        }
    }
    return timing;
}

// The members only an ISO 9141-2 ECU has.
void read_obd_members(const json& object, const std::string& where, EcuProfile& ecu) {
    if (const json* source = member(object, "sourceAddress")) {
        ecu.source_address = hex_one_byte(*source, where + ".sourceAddress");
    }
    if (const json* strict = member(object, "requireChecksum")) {
        ecu.require_checksum = boolean(*strict, where + ".requireChecksum");
    }
    const json* responses = member(object, "responses");
    if (responses == nullptr) return;
    std::size_t i = 0;
    for (const json& entry : array(*responses, where + ".responses")) {
        const std::string at = where + ".responses[" + std::to_string(i++) + "]";
        only_members(entry, at, {"request", "response"});
        ObdAnswer answer;
        answer.request = hex_bytes(required(entry, at, "request"), at + ".request", 1, kMaxMessageBytes);
        // Room for the three header bytes and the checksum.
        answer.response = hex_bytes(required(entry, at, "response"), at + ".response", 1, kMaxMessageBytes - 4);
        ecu.obd_answers.push_back(std::move(answer));
    }
}

// The members only a KWP71 ECU has.
void read_kwp71_members(const json& object, const std::string& where, EcuProfile& ecu) {
    if (const json* blocks = member(object, "blocks")) {
        std::size_t i = 0;
        for (const json& entry : array(*blocks, where + ".blocks")) {
            const std::string at = where + ".blocks[" + std::to_string(i++) + "]";
            only_members(entry, at, {"title", "replyTitle", "data"});
            Kwp71Answer answer;
            answer.title = hex_one_byte(required(entry, at, "title"), at + ".title");
            answer.reply_title = hex_one_byte(required(entry, at, "replyTitle"), at + ".replyTitle");
            // The block length byte counts counter, title, data and end: at most 255.
            if (const json* data = member(entry, "data")) answer.reply_data = hex_bytes(*data, at + ".data", 0, 252);
            ecu.kwp71_answers.push_back(std::move(answer));
        }
    }
    if (const json* nak = member(object, "unknownTitleReply")) {
        ecu.unknown_title_reply = hex_one_byte(*nak, where + ".unknownTitleReply");
    }
}

EcuProfile read_ecu(const json& object, const std::string& where) {
    if (!object.is_object()) fail(where, "expected an object");
    EcuProfile ecu;
    const std::string protocol = text(required(object, where, "protocol"), where + ".protocol");
    if (protocol == "iso9141-2") {
        ecu.protocol = EcuProtocol::Iso9141_2;
        only_members(object, where, {"name", "protocol", "wakeAddress", "keyBytes", "timing",
                                     "sourceAddress", "requireChecksum", "responses"});
    } else if (protocol == "kwp71") {
        ecu.protocol = EcuProtocol::Kwp71;
        only_members(object, where, {"name", "protocol", "wakeAddress", "keyBytes", "timing",
                                     "blocks", "unknownTitleReply"});
    } else {
        fail(where + ".protocol", "expected \"iso9141-2\" or \"kwp71\", found \"" + protocol + "\"");
    }
    if (const json* name = member(object, "name")) ecu.name = text(*name, where + ".name");
    ecu.wake_address = hex_one_byte(required(object, where, "wakeAddress"), where + ".wakeAddress");
    ecu.key_bytes = hex_bytes(required(object, where, "keyBytes"), where + ".keyBytes", 1, kMaxKeyBytes);
    if (const json* timing = member(object, "timing")) ecu.timing = read_timing(*timing, where + ".timing");

    if (ecu.protocol == EcuProtocol::Iso9141_2) {
        read_obd_members(object, where, ecu);
    } else {
        read_kwp71_members(object, where, ecu);
    }
    return ecu;
}

VehicleProfile read_profile(const json& root) {
    only_members(root, "profile", {"name", "batteryMilliVolts", "instant", "ecus"});
    VehicleProfile profile;
    if (const json* name = member(root, "name")) profile.name = text(*name, "name");
    if (const json* battery = member(root, "batteryMilliVolts")) {
        profile.battery_millivolts = static_cast<std::uint32_t>(unsigned_number(*battery, "batteryMilliVolts", 0xFFFFFFFFu));
    }
    if (const json* instant = member(root, "instant")) profile.instant = boolean(*instant, "instant");
    const json& ecus = array(required(root, "profile", "ecus"), "ecus");
    std::size_t i = 0;
    for (const json& entry : ecus) {
        const std::string at = "ecus[" + std::to_string(i) + "]";
        EcuProfile ecu = read_ecu(entry, at);
        for (std::size_t j = 0; j < profile.ecus.size(); ++j) {
            if (profile.ecus[j].wake_address == ecu.wake_address) {
                fail(at + ".wakeAddress", hex_byte(ecu.wake_address) + " is already the wake address of ecus[" +
                                              std::to_string(j) + "]");
            }
        }
        profile.ecus.push_back(std::move(ecu));
        ++i;
    }
    return profile;
}

Bytes with_checksum(Bytes frame) {
    frame.push_back(iso9141_checksum(frame.data(), frame.size()));
    return frame;
}

bool ends_with_its_checksum(const Bytes& frame) {
    return frame.size() >= 2 && frame.back() == iso9141_checksum(frame.data(), frame.size() - 1);
}

// ---- The clock ----

std::atomic<bool> g_virtual_clock{false};
std::atomic<std::uint64_t> g_virtual_now_us{0};

std::chrono::steady_clock::time_point clock_base() {
    static const auto base = std::chrono::steady_clock::now();
    return base;
}

}  // namespace

std::uint8_t iso9141_checksum(const std::uint8_t* data, std::size_t size) {
    unsigned sum = 0;
    for (std::size_t i = 0; i < size; ++i) sum += data[i];
    return static_cast<std::uint8_t>(sum & 0xFFu);
}

bool parse_vehicle_profile(std::string_view json_text, VehicleProfile& out, std::string& error) {
    try {
        const json root = json::parse(json_text.begin(), json_text.end(), nullptr, /*allow_exceptions=*/false);
        if (root.is_discarded()) {
            error = "the profile is not valid JSON";
            return false;
        }
        out = read_profile(root);
        error.clear();
        return true;
    } catch (const ProfileError& e) {
        error = e.text();
    } catch (const std::exception& e) {
        error = std::string("the profile cannot be read: ") + e.what();
    }
    return false;
}

bool load_vehicle_profile_file(const std::string& path, VehicleProfile& out, std::string& error) {
    try {
        std::ifstream file(path, std::ios::binary);
        if (!file) {
            error = "cannot open " + path;
            return false;
        }
        std::ostringstream content;
        content << file.rdbuf();
        if (!parse_vehicle_profile(content.str(), out, error)) {
            error = path + ": " + error;
            return false;
        }
        return true;
    } catch (const std::exception& e) {
        error = path + ": " + e.what();
        return false;
    }
}

const VehicleProfile& builtin_vehicle_profile() {
    static const VehicleProfile profile = [] {
        VehicleProfile parsed;
        std::string error;
        const std::string_view text(reinterpret_cast<const char*>(kDefaultVehicleProfileJson),
                                    sizeof kDefaultVehicleProfileJson);
        // The build checks the shipped profile (the model's tests load it);
        // should it ever be unreadable the vehicle simply has no ECUs.
        if (!parse_vehicle_profile(text, parsed, error)) parsed = VehicleProfile{};
        return parsed;
    }();
    return profile;
}

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
    if (((tx_flags | connect_flags_) & kNoChecksumFlag) == 0) wire = with_checksum(std::move(wire));

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

std::optional<Bytes> Vehicle::answer(const EcuProfile& ecu, const Bytes& wire) const {
    if (ecu.protocol == EcuProtocol::Kwp71) {
        // length, counter, title, data..., 03; the length counts what follows
        // it. Bytes after the end byte (a checksum the device appended) are
        // not part of the block.
        if (wire.size() < 4) return std::nullopt;
        const std::size_t length = wire[0];
        if (length < 3 || wire.size() < length + 1 || wire[length] != kKwp71EndByte) return std::nullopt;
        // The ECU's block continues the tester's counter (1 to 255, as the
        // tester counts).
        const std::uint8_t counter = wire[1] >= 255 ? 1 : static_cast<std::uint8_t>(wire[1] + 1);
        const std::uint8_t title = wire[2];
        const auto found = std::find_if(ecu.kwp71_answers.begin(), ecu.kwp71_answers.end(),
                                        [&](const Kwp71Answer& a) { return a.title == title; });
        Bytes data;
        std::uint8_t reply_title = 0;
        if (found != ecu.kwp71_answers.end()) {
            reply_title = found->reply_title;
            data = found->reply_data;
        } else if (ecu.unknown_title_reply) {
            reply_title = *ecu.unknown_title_reply;
        } else {
            return std::nullopt;
        }
        Bytes block{static_cast<std::uint8_t>(3 + data.size()), counter, reply_title};
        block.insert(block.end(), data.begin(), data.end());
        block.push_back(kKwp71EndByte);
        return block;
    }

    // ISO 9141-2: [68 6A F1] request [checksum]. A frame that arrives with
    // its own checksum and the device's (both appended) is understood too.
    Bytes message = wire;
    if (ends_with_its_checksum(message)) {
        message.pop_back();
    } else if (ecu.require_checksum) {
        return std::nullopt;
    }
    auto lookup = [&](const Bytes& frame) -> const ObdAnswer* {
        auto body_begin = frame.begin();
        if (frame.size() >= 3 && std::equal(std::begin(kRequestHeader), std::end(kRequestHeader), frame.begin())) {
            body_begin += 3;
        }
        const auto found = std::find_if(ecu.obd_answers.begin(), ecu.obd_answers.end(), [&](const ObdAnswer& a) {
            return std::equal(a.request.begin(), a.request.end(), body_begin, frame.end());
        });
        return found != ecu.obd_answers.end() ? &*found : nullptr;
    };
    const ObdAnswer* found = lookup(message);
    if (found == nullptr && ends_with_its_checksum(message)) {
        message.pop_back();
        found = lookup(message);
    }
    if (found == nullptr) return std::nullopt;
    Bytes reply{kResponseHeader0, kResponseHeader1, ecu.source_address};
    reply.insert(reply.end(), found->response.begin(), found->response.end());
    return with_checksum(std::move(reply));
}

}  // namespace vxsim
