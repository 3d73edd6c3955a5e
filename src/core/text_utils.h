// Text conversions shared by every result text and log line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vx {

using Bytes = std::vector<std::uint8_t>;

// The most bytes a hex text field may hold.
inline constexpr std::size_t kMaxHexTextBytes = 128;

// Appends the JSON escaping of text (no surrounding quotes): the two-character
// escapes for quote, backslash, LF, CR and TAB, \u00xx for other control bytes,
// every other byte unchanged (no UTF-8 handling).
void append_json_escaped(std::string& out, std::string_view text);

// "68 6A F1": uppercase two-digit hex, single blanks, nothing for no bytes.
void append_hex_bytes(std::string& out, const std::uint8_t* data, std::size_t count);
std::string hex_bytes_text(const std::uint8_t* data, std::size_t count);
inline std::string hex_bytes_text(const Bytes& bytes) {
    return hex_bytes_text(bytes.data(), bytes.size());
}

// Reads hex digit pairs from free text: x/X drops a pending half-byte (so 0x
// prefixes work anywhere), other non-hex characters are skipped. Succeeds with
// 1 to 128 bytes and no half-byte left over; out holds what was read either way.
bool parse_hex_text(std::string_view text, Bytes& out);
// The same, appending to what out holds already; the result judges only the
// bytes this text adds.
bool append_hex_text(std::string_view text, Bytes& out);

void append_decimal(std::string& out, std::int64_t value);
void append_unsigned(std::string& out, std::uint64_t value);

// The same conversions written at out, which has room for the most they
// write (kMost... below); each returns the end of what it wrote. The result
// writer uses them to write into room it has already made.
inline constexpr std::size_t kMostJsonEscapedPerByte = 6;  // \u00xx
inline constexpr std::size_t kMostDecimalChars = 20;       // 18446744073709551615, -9223372036854775808
inline constexpr std::size_t kMostTenthsChars = kMostDecimalChars + 1;
char* write_json_escaped(char* out, std::string_view text);
char* write_hex_bytes(char* out, const std::uint8_t* data, std::size_t count);  // 3 * count
char* write_decimal(char* out, std::int64_t value);
char* write_unsigned(char* out, std::uint64_t value);
char* write_tenths(char* out, std::uint64_t tenths);
std::string decimal_text(std::int64_t value);
std::string unsigned_text(std::uint64_t value);

// A value held in tenths, written with exactly one decimal: 134 gives "13.4".
void append_tenths(std::string& out, std::uint64_t tenths);
std::string tenths_text(std::uint64_t tenths);

// Inserts fragment (",\"member\":...") before the last '}' of a finished JSON
// object; leaves a text without '}' unchanged.
void insert_members(std::string& result, std::string_view fragment);

// The result buffer convention: copies min(size - 1, length) bytes and a NUL
// when buffer is usable, and returns the full length either way.
int copy_out(std::string_view text, char* buffer, int size) noexcept;

}  // namespace vx
