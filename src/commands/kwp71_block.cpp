#include "commands/kwp71_block.h"

#include <algorithm>
#include <iterator>

#include "j2534/device_state.h"

namespace vx::commands {

namespace {
// The length byte counts counter + title + data + end, and must fit its byte.
constexpr std::size_t kMaxBlockLength = 255;
}  // namespace

std::uint8_t current_kwp71_block_counter() {
    const std::uint8_t counter = j2534::device_state().kwp71_block_counter;
    return counter == 0 ? std::uint8_t{1} : counter;
}

void advance_kwp71_block_counter(std::uint8_t used) {
    j2534::device_state().kwp71_block_counter = used == 255 ? std::uint8_t{1} : static_cast<std::uint8_t>(used + 1);
}

bool build_kwp71_block(std::string_view command_type, std::string_view payload_hex,
                       std::string_view trailer, int sequence, Kwp71Block& block,
                       std::string& error) {
    Bytes& bytes = block.bytes;
    bytes.clear();
    error.clear();
    if (trailer.empty()) trailer = "03";
    // One buffer for the whole block: the title, data and end are read into
    // it in turn and the length and counter bytes put before them.
    const auto most_bytes = [](std::string_view hex) { return std::min(hex.size() / 2, kMaxHexTextBytes + 1); };
    bytes.reserve(2 + most_bytes(command_type) + most_bytes(payload_hex) + most_bytes(trailer));

    // Each check decides alone: a later field is not looked at once an
    // earlier one failed, so the message always names the first bad field.
    std::string_view refusal;
    if (!append_hex_text(command_type, bytes) || bytes.size() != 1) {
        refusal = kKwp71CommandTypeError;
    } else if (!append_hex_text(payload_hex, bytes)) {
        refusal = kKwp71PayloadError;
    } else if (!append_hex_text(trailer, bytes)) {
        refusal = kKwp71TrailerError;
    } else if (bytes.size() + 1 > kMaxBlockLength) {
        refusal = kKwp71LengthError;
    }
    if (!refusal.empty()) {
        bytes.clear();
        error = refusal;
        return false;
    }

    // The length byte counts counter, title, data and end.
    const std::uint8_t counter = (sequence >= 1 && sequence <= 255)
                                     ? static_cast<std::uint8_t>(sequence)
                                     : current_kwp71_block_counter();
    const std::uint8_t head[] = {static_cast<std::uint8_t>(bytes.size() + 1), counter};
    bytes.insert(bytes.begin(), std::begin(head), std::end(head));
    block.counter = counter;
    return true;
}

}  // namespace vx::commands
