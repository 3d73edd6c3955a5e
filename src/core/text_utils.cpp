#include "core/text_utils.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace vx {

namespace {

// The text one of the append_ conversions writes, on its own.
template <typename Append, typename Value>
std::string text_of(Append append, Value value) {
    std::string out;
    append(out, value);
    return out;
}

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

// Hands text to sink (data, size) in runs of plain bytes and escapes.
template <typename Sink>
void escape_json(std::string_view text, Sink&& sink) {
    // Copy runs of plain bytes in one go; escapes are rare in practice.
    const char* p = text.data();
    const char* const end = p + text.size();
    char scratch[6];
    while (p != end) {
        const char* const run = p;
        while (p != end && !needs_json_escape(static_cast<unsigned char>(*p))) ++p;
        if (p != run) sink(run, static_cast<std::size_t>(p - run));
        if (p == end) break;
        const std::string_view escape = json_escape_for(static_cast<unsigned char>(*p), scratch);
        sink(escape.data(), escape.size());
        ++p;
    }
}

}  // namespace

void append_json_escaped(std::string& out, std::string_view text) {
    escape_json(text, [&out](const char* data, std::size_t size) { out.append(data, size); });
}

char* write_json_escaped(char* out, std::string_view text) {
    escape_json(text, [&out](const char* data, std::size_t size) {
        std::memcpy(out, data, size);
        out += size;
    });
    return out;
}

char* write_hex_bytes(char* out, const std::uint8_t* data, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        if (i != 0) *out++ = ' ';
        *out++ = kUpperHex[data[i] >> 4];
        *out++ = kUpperHex[data[i] & 0x0F];
    }
    return out;
}

void append_hex_bytes(std::string& out, const std::uint8_t* data, std::size_t count) {
    if (count == 0) return;
    const std::size_t start = out.size();
    out.resize(start + count * 3 - 1);
    write_hex_bytes(out.data() + start, data, count);
}

std::string hex_bytes_text(const std::uint8_t* data, std::size_t count) {
    std::string out;
    append_hex_bytes(out, data, count);
    return out;
}

bool parse_hex_text(std::string_view text, Bytes& out) {
    out.clear();
    return append_hex_text(text, out);
}

bool append_hex_text(std::string_view text, Bytes& out) {
    const std::size_t start = out.size();
    // Room for every byte a valid text can hold, so that short frames are
    // read without growing the vector step by step.
    out.reserve(start + std::min(text.size() / 2, kMaxHexTextBytes + 1));
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
    const std::size_t added = out.size() - start;
    return pending < 0 && added != 0 && added <= kMaxHexTextBytes;
}

char* write_unsigned(char* out, std::uint64_t value) {
    // Counted first, then written from the last digit back: no copy.
    std::size_t count = 1;
    for (std::uint64_t rest = value; rest >= 10; rest /= 10) ++count;
    char* p = out + count;
    do {
        *--p = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    return out + count;
}

char* write_decimal(char* out, std::int64_t value) {
    if (value >= 0) return write_unsigned(out, static_cast<std::uint64_t>(value));
    *out++ = '-';
    // Negate in unsigned arithmetic so INT64_MIN does not overflow.
    return write_unsigned(out, 0u - static_cast<std::uint64_t>(value));
}

char* write_tenths(char* out, std::uint64_t tenths) {
    out = write_unsigned(out, tenths / 10u);
    *out++ = '.';
    *out++ = static_cast<char>('0' + tenths % 10u);
    return out;
}

void append_unsigned(std::string& out, std::uint64_t value) {
    char text[kMostDecimalChars];
    out.append(text, static_cast<std::size_t>(write_unsigned(text, value) - text));
}

void append_decimal(std::string& out, std::int64_t value) {
    char text[kMostDecimalChars];
    out.append(text, static_cast<std::size_t>(write_decimal(text, value) - text));
}

std::string decimal_text(std::int64_t value) { return text_of(append_decimal, value); }

std::string unsigned_text(std::uint64_t value) { return text_of(append_unsigned, value); }

void append_tenths(std::string& out, std::uint64_t tenths) {
    char text[kMostTenthsChars];
    out.append(text, static_cast<std::size_t>(write_tenths(text, tenths) - text));
}

std::string tenths_text(std::uint64_t tenths) { return text_of(append_tenths, tenths); }

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
