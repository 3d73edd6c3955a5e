// The OBD decoders on replies as the core hands them back: with the ISO
// 9141-2 or ISO 14230-2 header and checksum, or without; codes and PIDs as
// SAE J2012 and SAE J1979 define them.
#include "obd_decode.h"

#include <gtest/gtest.h>

#include <fmt/format.h>
#include <fmt/ranges.h>

namespace {

// "P0133 P0300", "" for no code, "none" when the message is no such reply.
template <typename Items>
std::string shown(const std::optional<Items>& items, const char* format) {
    if (!items) return "none";
    std::vector<std::string> texts;
    for (const auto& item : *items) texts.push_back(fmt::format(fmt::runtime(format), item));
    return fmt::format("{}", fmt::join(texts, " "));
}

TEST(ObdDecode, StoredTroubleCodesOfAMode03Reply) {
    const std::pair<const char*, const char*> cases[] = {
        {"48 6B 10 43 01 33 03 00 00 00 3D", "P0133 P0300"},  // the simulated OBD ECU: header, padding, checksum
        {"43 01 33 03 00 00 00", "P0133 P0300"},              // header and checksum removed by the interface
        {"43 41 23 81 05 C1 00", "C0123 B0105 U0100"},        // the system letter from the two top bits
        {"43 12 34 3F FF 00 00", "P1234 P3FFF"},
        {"48 6B 10 43 00 00 00 00 00 00 06", ""},             // no stored code
        {"83 F1 10 43 01 33 FB", "P0133"},                    // ISO 14230-2 header
        {"48 6B 10 7F 03 11 06", "none"},                     // a negative response
        {"48 6B 10 41 00 BE 1F B8 10 A9", "none"},            // another mode's reply
        {"43 01", "none"},                                    // half a code
        {"", "none"},
        {"4X 01 33", "none"},
    };
    for (const auto& [reply, codes] : cases) {
        EXPECT_EQ(shown(vxdiag::stored_trouble_codes(reply), "{}"), codes) << reply;
    }
    EXPECT_EQ(shown(vxdiag::stored_trouble_codes(std::vector<std::string>{"41 00 00 00 00 00", "43 01 33 00 00 00 00",
                                                                          "43 03 00 00 00 00 00"}),
                    "{}"),
              "P0133 P0300");
}

TEST(ObdDecode, SupportedPidsOfAMode01BitmapReply) {
    const std::pair<const char*, const char*> cases[] = {
        {"48 6B 10 41 00 BE 1F B8 10 A9", "01 03 04 05 06 07 0C 0D 0E 0F 10 11 13 14 15 1C"},
        {"41 20 80 00 00 01", "21 40"},  // PIDs 21-40: the first and the last bit
        {"41 00 00 00 00 00", ""},
        {"41 0C 1A F8", "none"},         // engine speed, no bitmap
        {"41 0C 1A F8 00 00", "none"},   // a PID that is not a bitmap PID
        {"43 01 33 03 00 00 00", "none"},
    };
    for (const auto& [reply, pids] : cases) EXPECT_EQ(shown(vxdiag::supported_pids(reply), "{:02X}"), pids) << reply;
}

}  // namespace
