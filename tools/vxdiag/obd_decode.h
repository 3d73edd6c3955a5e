// Decodes the OBD replies the core hands back as hex text: the stored
// trouble codes of a mode 03 reply and the supported PIDs of a mode 01 PID
// 00 (20, 40, ...) reply. The core reports the bytes as they came off the
// K-line; reading them is the host's job.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vxdiag {

// The service byte and data of one received message, given as hex text
// ("48 6B 10 43 01 33 03 00 00 00 3D"): an ISO 9141-2 header (48 6B source)
// or an ISO 14230-2 header (format byte 8x or Cx, then target and source, a
// length byte when the format byte holds none) is dropped, and so is a
// trailing byte that is the message's checksum (the sum of the bytes before
// it, modulo 256). Empty when the text is not hex bytes.
std::vector<std::uint8_t> obd_payload(std::string_view hex);

// The trouble codes of a mode 03 reply as SAE J2012 / ISO 15031-6 write them
// ("P0133"); 00 00 pairs are padding. Nothing when the message is no mode 03
// reply; an empty list when it reports no stored code.
std::optional<std::vector<std::string>> stored_trouble_codes(std::string_view hex);

// The PIDs a mode 01 reply to PID 00, 20, 40, ... marks as supported (SAE
// J1979: the four data bytes are a bitmap, most significant bit first, of the
// 32 PIDs after the requested one). Nothing when the message is no such reply.
std::optional<std::vector<unsigned>> supported_pids(std::string_view hex);

// The same over all messages of a read, in order (an ECU with more codes
// than fit in one message sends several; several ECUs may answer): nothing
// when no message is such a reply.
std::optional<std::vector<std::string>> stored_trouble_codes(const std::vector<std::string>& replies);
std::optional<std::vector<unsigned>> supported_pids(const std::vector<std::string>& replies);

}  // namespace vxdiag
