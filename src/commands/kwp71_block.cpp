#include "commands/kwp71_block.h"

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
    block.bytes.clear();
    error.clear();
    if (trailer.empty()) trailer = "03";

    // Each check decides alone: a later field is not looked at once an
    // earlier one failed, so the message always names the first bad field.
    Bytes title;
    if (!parse_hex_text(command_type, title) || title.size() != 1) {
        error = kKwp71CommandTypeError;
        return false;
    }
    Bytes data;
    if (!parse_hex_text(payload_hex, data)) {
        error = kKwp71PayloadError;
        return false;
    }
    Bytes end;
    if (!parse_hex_text(trailer, end)) {
        error = kKwp71TrailerError;
        return false;
    }
    const std::size_t length = 2 + data.size() + end.size();
    if (length > kMaxBlockLength) {
        error = kKwp71LengthError;
        return false;
    }

    const std::uint8_t counter = (sequence >= 1 && sequence <= 255)
                                     ? static_cast<std::uint8_t>(sequence)
                                     : current_kwp71_block_counter();
    block.bytes.reserve(length + 1);
    block.bytes.push_back(static_cast<std::uint8_t>(length));
    block.bytes.push_back(counter);
    block.bytes.push_back(title.front());
    block.bytes.insert(block.bytes.end(), data.begin(), data.end());
    block.bytes.insert(block.bytes.end(), end.begin(), end.end());
    block.counter = counter;
    return true;
}

}  // namespace vx::commands
