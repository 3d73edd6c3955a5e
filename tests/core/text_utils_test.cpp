// The text conversions every result and log line is made of.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "core/request_reader.h"
#include "core/result_writer.h"
#include "core/text_utils.h"

namespace vx {
namespace {

TEST(TextUtils, NumbersAndHexBytesAreWrittenWithoutPadding) {
    EXPECT_EQ(tenths_text(0), "0.0");
    EXPECT_EQ(tenths_text(1269), "126.9");
    const std::uint8_t bytes[] = {0x00, 0x0A, 0xF1, 0xFF};
    EXPECT_EQ(hex_bytes_text(bytes), "00 0A F1 FF");
    EXPECT_EQ(hex_bytes_text({bytes, 0}), "");
}

TEST(TextUtils, MembersGoBeforeTheLastClosingBrace) {
    std::string text = "{\"a\":{\"b\":1}}";
    insert_members(text, ",\"c\":2");
    EXPECT_EQ(text, "{\"a\":{\"b\":1},\"c\":2}");
    std::string no_brace = "[1]";
    insert_members(no_brace, ",\"c\":2");
    EXPECT_EQ(no_brace, "[1]");
}

TEST(TextUtils, CopyOutWithoutRoomOnlyMeasures) {
    EXPECT_EQ(copy_out("abcdef", nullptr, 50), 6);
    char buffer[4] = "xyz";
    EXPECT_EQ(copy_out("abc", buffer, -3), 3);
    EXPECT_STREQ(buffer, "xyz");
}

TEST(TextUtils, ResultWriterEscapesOnlyTextValues) {
    ResultWriter w;
    const std::uint8_t frame[] = {0x01, 0xFE};
    w.raw("{\"s\":\"").text("a\"b").raw("\",\"t\":").boolean(true).raw(",\"f\":").boolean(false);
    w.raw(",\"n\":").signed_number(-5).raw(",\"u\":").unsigned_number(5).raw(",\"v\":").tenths(126);
    w.raw(",\"h\":\"").hex(frame).raw("\"}");
    EXPECT_EQ(w.str(), R"({"s":"a\"b","t":true,"f":false,"n":-5,"u":5,"v":12.6,"h":"01 FE"})");
}

TEST(TextUtils, AsciiLowercaseChangesOnlyAToZ) {
    EXPECT_EQ(ascii_lowercase("Verified MODE-9_[@]"), "verified mode-9_[@]");
    EXPECT_EQ(ascii_lowercase("\xC4\xD6Z"), "\xC4\xD6z");
}

}  // namespace
}  // namespace vx
