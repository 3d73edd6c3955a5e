#include "core/text_utils.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace vx {

namespace {

constexpr char kUpperHex[] = "0123456789ABCDEF";
constexpr char kLowerHex[] = "0123456789abcdef";

int hex_digit_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string json_escaped_text(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (byte >= 0x20) {
                    out += c;
                } else {
                    out += "\\u00";
                    out += kLowerHex[byte >> 4];
                    out += kLowerHex[byte & 0x0F];
                }
        }
    }
    return out;
}

std::string hex_bytes_text(std::span<const std::uint8_t> bytes) {
    std::string out;
    for (const std::uint8_t byte : bytes) {
        if (!out.empty()) out += ' ';
        out += kUpperHex[byte >> 4];
        out += kUpperHex[byte & 0x0F];
    }
    return out;
}

bool parse_hex_text(std::string_view text, Bytes& out) {
    out.clear();
    int pending = -1;
    for (const char c : text) {
        if (c == 'x' || c == 'X') {
            pending = -1;
            continue;
        }
        const int value = hex_digit_value(c);
        if (value < 0) continue;
        if (pending < 0) {
            pending = value;
        } else {
            out.push_back(static_cast<std::uint8_t>(pending * 16 + value));
            pending = -1;
        }
    }
    return pending < 0 && !out.empty() && out.size() <= kMaxHexTextBytes;
}

std::string tenths_text(std::uint64_t tenths) {
    return std::to_string(tenths / 10u) + '.' + static_cast<char>('0' + tenths % 10u);
}

void insert_members(std::string& result, std::string_view fragment) {
    const std::size_t brace = result.rfind('}');
    if (brace == std::string::npos) return;
    result.insert(brace, fragment);
}

int copy_out(std::string_view text, char* buffer, int size) noexcept {
    if (buffer != nullptr && size > 0) {
        const std::size_t n = std::min(static_cast<std::size_t>(size) - 1, text.size());
        if (n != 0) std::memcpy(buffer, text.data(), n);
        buffer[n] = '\0';
    }
    // A text longer than INT_MAX cannot be reported; saturate rather than wrap.
    return text.size() > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(text.size());
}

}  // namespace vx
