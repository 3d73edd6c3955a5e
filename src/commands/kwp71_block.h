// KWP71 block builder and the process-wide block counter.
//
// A KWP71 block on the K-line is: length byte (count of the bytes that follow
// it), block counter, block title, data bytes, block end (normally 03). The
// host sends the pieces as hex texts; this file turns them into one block.
// No checksum byte is added: KWP71 has none.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/text_utils.h"

namespace vx::commands {

// The builder's four refusals, in the order its checks run.
inline constexpr std::string_view kKwp71CommandTypeError =
    "commandType must be exactly one byte, for example 04.";
inline constexpr std::string_view kKwp71PayloadError = "payloadHex must contain at least one byte.";
inline constexpr std::string_view kKwp71TrailerError =
    "trailer must contain at least one byte, normally 03.";
inline constexpr std::string_view kKwp71LengthError = "KWP71 block body length exceeds one byte.";

struct Kwp71Block {
    Bytes bytes;
    std::uint8_t counter = 0;  // the block counter byte used (offset 1)
};

// Builds one block. trailer empty means "03"; sequence within 1..255 overrides
// the process-wide counter, any other value (the callers pass -1 or 0 for an
// absent field) uses it. On failure returns false, error holds one of the four
// texts above, block is empty and block.counter is left untouched. Reads the
// process-wide counter, never changes it.
bool build_kwp71_block(std::string_view command_type, std::string_view payload_hex,
                       std::string_view trailer, int sequence, Kwp71Block& block,
                       std::string& error);

}  // namespace vx::commands
