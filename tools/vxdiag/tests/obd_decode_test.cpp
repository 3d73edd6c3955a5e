// The OBD decoders on replies as the core hands them back: with the ISO
// 9141-2 or ISO 14230-2 header and checksum, or without; codes and PIDs as
// SAE J2012 and SAE J1979 define them.
#include "obd_decode.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <fstream>

namespace {

// "P0133 P0300", "" for no code, "none" when the message is no such reply.
template <typename Items>
std::string shown(const std::optional<Items>& items, const char* format) {
    if (!items) return "none";
    std::vector<std::string> texts;
    for (const auto& item : *items) texts.push_back(fmt::format(fmt::runtime(format), item));
    return fmt::format("{}", fmt::join(texts, " "));
}

// Each case of data/obd_replies.json: "codes" (mode 03) or "pids" (mode 01),
// one reply or the replies of several ECUs, what they decode to, a note.
template <typename Reply>
std::string decoded(const std::string& decoder, const Reply& reply) {
    if (decoder == "codes") return shown(vxdiag::stored_trouble_codes(reply), "{}");
    return shown(vxdiag::supported_pids(reply), "{:02X}");
}

TEST(ObdDecode, TroubleCodesOfMode03AndSupportedPidsOfMode01Replies) {
    const auto cases = nlohmann::json::parse(std::ifstream(std::string(VXDIAG_TEST_DATA) + "/obd_replies.json"));
    ASSERT_EQ(cases.size(), 18u);
    for (const nlohmann::json& c : cases) {
        const std::string got = c[1].is_array() ? decoded(c[0], c[1].get<std::vector<std::string>>())
                                                : decoded(c[0], c[1].get<std::string>());
        EXPECT_EQ(got, c[2]) << c.dump();
    }
}

}  // namespace
