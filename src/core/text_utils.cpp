#include "core/text_utils.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace vx {

namespace {

constexpr char kUpperHex[] = "0123456789ABCDEF";
constexpr char kLowerHex[] = "0123456789abcdef";

// Quote, backslash and the control bytes; every other byte passes unchanged.
constexpr bool needs_json_escape(unsigned char byte) { return byte < 0x20 || byte == '"' || byte == '\\'; }

// The escape for one byte, or an empty view when the byte passes unchanged.
std::string_view json_escape_for(unsigned char byte, char (&scratch)[6]) {
    switch (byte) {
        case '"': return "\\\"";
        case '\\': return "\\\\";
        case '\n': return "\\n";
        case '\r': return "\\r";
        case '\t': return "\\t";
        default: break;
    }
    if (byte >= 0x20) return {};
    scratch[0] = '\\';
    scratch[1] = 'u';
    scratch[2] = '0';
    scratch[3] = '0';
    scratch[4] = kLowerHex[byte >> 4];
    scratch[5] = kLowerHex[byte & 0x0F];
    return {scratch, 6};
}

int hex_digit_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

void append_json_escaped(std::string& out, std::string_view text) {
    // Copy runs of plain bytes in one go; escapes are rare in practice.
    const char* p = text.data();
    const char* const end = p + text.size();
    char scratch[6];
    while (p != end) {
        const char* const run = p;
        while (p != end && !needs_json_escape(static_cast<unsigned char>(*p))) ++p;
        out.append(run, static_cast<std::size_t>(p - run));
        if (p == end) break;
        out.append(json_escape_for(static_cast<unsigned char>(*p), scratch));
        ++p;
    }
}

void append_hex_bytes(std::string& out, const std::uint8_t* data, std::size_t count) {
    if (count == 0) return;
    const std::size_t start = out.size();
    out.resize(start + count * 3 - 1);
    char* p = out.data() + start;
    for (std::size_t i = 0; i < count; ++i) {
        if (i != 0) *p++ = ' ';
        *p++ = kUpperHex[data[i] >> 4];
        *p++ = kUpperHex[data[i] & 0x0F];
    }
}

std::string hex_bytes_text(const std::uint8_t* data, std::size_t count) {
    std::string out;
    append_hex_bytes(out, data, count);
    return out;
}

bool parse_hex_text(std::string_view text, Bytes& out) {
    out.clear();
    // Room for every byte a valid text can hold, so that short frames are
    // read without growing the vector step by step.
    out.reserve(std::min(text.size() / 2, kMaxHexTextBytes + 1));
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

void append_unsigned(std::string& out, std::uint64_t value) {
    // Filled from the end, then appended in one piece.
    char digits[20];
    char* const end = digits + sizeof digits;
    char* first = end;
    do {
        *--first = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    out.append(first, static_cast<std::size_t>(end - first));
}

void append_decimal(std::string& out, std::int64_t value) {
    if (value < 0) {
        out.push_back('-');
        // Negate in unsigned arithmetic so INT64_MIN does not overflow.
        append_unsigned(out, 0u - static_cast<std::uint64_t>(value));
    } else {
        append_unsigned(out, static_cast<std::uint64_t>(value));
    }
}

std::string decimal_text(std::int64_t value) {
    std::string out;
    append_decimal(out, value);
    return out;
}

std::string unsigned_text(std::uint64_t value) {
    std::string out;
    append_unsigned(out, value);
    return out;
}

void append_tenths(std::string& out, std::uint64_t tenths) {
    append_unsigned(out, tenths / 10u);
    out.push_back('.');
    out.push_back(static_cast<char>('0' + tenths % 10u));
}

std::string tenths_text(std::uint64_t tenths) {
    std::string out;
    append_tenths(out, tenths);
    return out;
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
