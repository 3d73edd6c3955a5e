// Fuzz target for the hex text parse and the hex byte text.
//
// Invariants: a successful parse holds 1 to 128 bytes; the hex byte text of
// the result has the "68 6A F1" form and parses back to the same bytes; the
// parse ignores letter case; it never reads more bytes than digit pairs exist.
#include "core/text_utils.h"
#include "platform/ascii_case.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

bool is_upper_hex_digit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

void check_hex_byte_text(const vx::Bytes& bytes) {
    const std::string text = vx::hex_bytes_text(bytes);
    if (text.size() != bytes.size() * 3 - 1) std::abort();
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool separator = i % 3 == 2;
        if (separator ? text[i] != ' ' : !is_upper_hex_digit(text[i])) std::abort();
    }
    vx::Bytes again;
    if (!vx::parse_hex_text(text, again) || again != bytes) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    vx::Bytes bytes{0xAA};  // the parse must empty the output first
    const bool ok = vx::parse_hex_text(text, bytes);
    if (bytes.size() > size / 2) std::abort();
    if (ok) {
        if (bytes.empty() || bytes.size() > vx::kMaxHexTextBytes) std::abort();
        check_hex_byte_text(bytes);
    }

    const std::string lower = vx::ascii_lowercase(std::string(text));
    vx::Bytes lower_bytes;
    if (vx::parse_hex_text(lower, lower_bytes) != ok || lower_bytes != bytes) std::abort();
    return 0;
}
