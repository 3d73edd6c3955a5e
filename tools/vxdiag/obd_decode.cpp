#include "obd_decode.h"

#include <fmt/format.h>

#include <algorithm>
#include <charconv>

namespace vxdiag {

namespace {

// SAE J1979 positive responses are the request's mode plus 0x40.
constexpr std::uint8_t kStoredCodesReply = 0x43;
constexpr std::uint8_t kCurrentDataReply = 0x41;

std::optional<std::vector<std::uint8_t>> hex_bytes(std::string_view hex) {
    std::vector<std::uint8_t> bytes;
    std::size_t at = 0;
    while (at < hex.size()) {
        if (hex[at] == ' ') {
            ++at;
            continue;
        }
        const char* const last = hex.data() + std::min(at + 2, hex.size());
        std::uint8_t byte = 0;
        const auto [end, error] = std::from_chars(hex.data() + at, last, byte, 16);
        if (error != std::errc() || end != last) return std::nullopt;
        bytes.push_back(byte);
        at += 2;
    }
    return bytes;
}

// Bytes of the header before the service byte, or 0 when there is none.
std::size_t header_size(const std::vector<std::uint8_t>& bytes) {
    if (bytes.size() < 4) return 0;
    // ISO 9141-2: 48 6B then the answering ECU's address.
    if (bytes[0] == 0x48 && bytes[1] == 0x6B) return 3;
    // ISO 14230-2: format byte with address mode 10 or 11 and the length in
    // its low six bits, or 0 there and a length byte after the addresses.
    if ((bytes[0] & 0x80) != 0) return (bytes[0] & 0x3F) != 0 ? 3 : 4;
    return 0;
}

template <typename Item>
std::optional<std::vector<Item>> all_of(const std::vector<std::string>& replies,
                                        std::optional<std::vector<Item>> (*decode)(std::string_view)) {
    std::optional<std::vector<Item>> all;
    for (const std::string& reply : replies) {
        std::optional<std::vector<Item>> items = decode(reply);
        if (!items) continue;
        if (!all) all.emplace();
        all->insert(all->end(), items->begin(), items->end());
    }
    return all;
}

}  // namespace

std::vector<std::uint8_t> obd_payload(std::string_view hex) {
    std::vector<std::uint8_t> bytes = hex_bytes(hex).value_or(std::vector<std::uint8_t>{});
    const std::size_t header = header_size(bytes);
    if (header == 0 || bytes.size() <= header + 1) return bytes;
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i + 1 < bytes.size(); ++i) sum = static_cast<std::uint8_t>(sum + bytes[i]);
    if (bytes.back() == sum) bytes.pop_back();
    return {bytes.begin() + static_cast<std::ptrdiff_t>(header), bytes.end()};
}

std::optional<std::vector<std::string>> stored_trouble_codes(std::string_view hex) {
    const std::vector<std::uint8_t> payload = obd_payload(hex);
    if (payload.empty() || payload[0] != kStoredCodesReply || payload.size() % 2 != 1) return std::nullopt;
    std::vector<std::string> codes;
    for (std::size_t i = 1; i + 1 < payload.size(); i += 2) {
        const std::uint8_t high = payload[i];
        const std::uint8_t low = payload[i + 1];
        if (high == 0 && low == 0) continue;
        // SAE J2012: the two top bits pick the system, the next two are the
        // first digit, the remaining twelve bits the other three digits.
        constexpr char kSystems[] = {'P', 'C', 'B', 'U'};
        codes.push_back(fmt::format("{}{}{:X}{:02X}", kSystems[high >> 6], (high >> 4) & 0x3, high & 0xF, low));
    }
    return codes;
}

std::optional<std::vector<unsigned>> supported_pids(std::string_view hex) {
    const std::vector<std::uint8_t> payload = obd_payload(hex);
    if (payload.size() != 6 || payload[0] != kCurrentDataReply || payload[1] % 0x20 != 0) return std::nullopt;
    std::vector<unsigned> pids;
    for (unsigned bit = 0; bit < 32; ++bit) {
        const std::uint8_t byte = payload[2 + bit / 8];
        if (((byte >> (7 - bit % 8)) & 1) != 0) pids.push_back(payload[1] + bit + 1);
    }
    return pids;
}

std::optional<std::vector<std::string>> stored_trouble_codes(const std::vector<std::string>& replies) {
    return all_of<std::string>(replies, stored_trouble_codes);
}

std::optional<std::vector<unsigned>> supported_pids(const std::vector<std::string>& replies) {
    return all_of<unsigned>(replies, supported_pids);
}

}  // namespace vxdiag
