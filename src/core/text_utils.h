// Text conversions shared by every result text and log line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vx {

using Bytes = std::vector<std::uint8_t>;

// The most bytes a hex text field may hold (the host's contract).
inline constexpr std::size_t kMaxHexTextBytes = 128;

// The JSON escaping of text (no surrounding quotes): the two-character
// escapes for quote, backslash, LF, CR and TAB, \u00xx for other control
// bytes, every other byte unchanged (no UTF-8 handling).
std::string json_escaped_text(std::string_view text);

// "68 6A F1": uppercase two-digit hex, single blanks, nothing for no bytes.
std::string hex_bytes_text(std::span<const std::uint8_t> bytes);

// Reads hex digit pairs from free text: x/X drops a pending half-byte (so 0x
// prefixes work anywhere), other non-hex characters are skipped. Succeeds with
// 1 to 128 bytes and no half-byte left over; out holds what was read either way.
bool parse_hex_text(std::string_view text, Bytes& out);

// A value held in tenths, written with exactly one decimal: 134 gives "13.4".
std::string tenths_text(std::uint64_t tenths);

// Inserts fragment (",\"member\":...") before the last '}' of a finished JSON
// object; leaves a text without '}' unchanged.
void insert_members(std::string& result, std::string_view fragment);

// The result buffer convention: copies min(size - 1, length) bytes and a NUL
// when buffer is usable, and returns the full length either way.
int copy_out(std::string_view text, char* buffer, int size) noexcept;

}  // namespace vx
