#include "commands/kwp71_block.h"

#include "j2534/device_state.h"

namespace vx::commands {

namespace {
// The length byte counts counter + title + data + end, and must fit its byte.
constexpr std::size_t kMaxBlockLength = 255;
}  // namespace

bool build_kwp71_block(std::string_view command_type, std::string_view payload_hex,
                       std::string_view trailer, int sequence, Kwp71Block& block,
                       std::string& error) {
    Bytes& bytes = block.bytes;
    bytes.clear();
    error.clear();
    if (trailer.empty()) trailer = "03";
    // Each check decides alone: a later field is not looked at once an
    // earlier one failed, so the message always names the first bad field.
    // The title, data and end follow each other in the block.
    Bytes title;
    Bytes data;
    Bytes end;
    std::string_view refusal;
    if (!parse_hex_text(command_type, title) || title.size() != 1) {
        refusal = kKwp71CommandTypeError;
    } else if (!parse_hex_text(payload_hex, data)) {
        refusal = kKwp71PayloadError;
    } else if (!parse_hex_text(trailer, end)) {
        refusal = kKwp71TrailerError;
    } else if (title.size() + data.size() + end.size() + 1 > kMaxBlockLength) {
        refusal = kKwp71LengthError;
    }
    if (!refusal.empty()) {
        error = refusal;
        return false;
    }

    // The length byte counts counter, title, data and end.
    const std::uint8_t counter = (sequence >= 1 && sequence <= 255)
                                     ? static_cast<std::uint8_t>(sequence)
                                     : j2534::device_state().kwp71_block_counter;
    bytes = {static_cast<std::uint8_t>(title.size() + data.size() + end.size() + 1), counter};
    for (const Bytes* part : {&title, &data, &end}) bytes.insert(bytes.end(), part->begin(), part->end());
    block.counter = counter;
    return true;
}

}  // namespace vx::commands
