// The vehicle profile reader: a JSON profile (sim/vehicles/README.md) into a
// VehicleProfile, with a message naming the place of the first mistake.
#include <fstream>
#include <set>
#include <sstream>
#include <utility>

#include <nlohmann/json.hpp>

#include "default_vehicle_profile.h"
#include "vehicle_model.h"

namespace vxsim {
namespace {

using json = nlohmann::json;

// SAE J2534-1 04.04: the largest message a PASSTHRU_MSG carries.
constexpr std::size_t kMaxMessageBytes = vx::j2534::kMsgDataCapacity;
// FIVE_BAUD_INIT hands back at most this many key bytes in the simulated device.
constexpr std::size_t kMaxKeyBytes = 16;
// Longest timing value a profile may give, in ms.
constexpr std::uint64_t kMaxTimingMs = 60'000;

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

}  // namespace

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

}  // namespace vxsim
