// The text conversions every result and log line is made of.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "core/result_writer.h"
#include "core/text_utils.h"

namespace vx {
namespace {

TEST(TextUtils, JsonEscapingTouchesOnlyQuoteBackslashAndControlBytes) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"plain / text \x7F \xC3\xA9", "plain / text \x7F \xC3\xA9"},
        {"\"q\" \\b", "\\\"q\\\" \\\\b"},
        {"\n\r\t", "\\n\\r\\t"},
        {std::string("\x00\x01\x1F\x08", 4), "\\u0000\\u0001\\u001f\\u0008"},
    };
    for (const auto& [text, escaped] : cases) {
        EXPECT_EQ(json_escaped_text(text), escaped);
    }
}

TEST(TextUtils, NumbersAndHexBytesAreWrittenWithoutPadding) {
    EXPECT_EQ(tenths_text(0), "0.0");
    EXPECT_EQ(tenths_text(1269), "126.9");
    const std::uint8_t bytes[] = {0x00, 0x0A, 0xF1, 0xFF};
    EXPECT_EQ(hex_bytes_text(bytes), "00 0A F1 FF");
    EXPECT_EQ(hex_bytes_text({bytes, 0}), "");
}

struct HexCase {
    std::string text;
    bool ok;
    Bytes bytes;
};

TEST(TextUtils, HexTextReadsDigitPairsFromFreeText) {
    const std::vector<HexCase> cases = {
        {"68 6A F1", true, {0x68, 0x6A, 0xF1}},
        {"0x68,0X6a;f1", true, {0x68, 0x6A, 0xF1}},
        {"6x86A0", true, {0x86, 0xA0}},  // x drops the pending 6
        {"6x86A", false, {0x86}},
        {"zz1g2", true, {0x12}},
        {"", false, {}},
        {"120", false, {0x12}},  // a lone last digit, even a 0, spoils the text  // a lone last digit, even a 0, spoils the text
        {"x", false, {}},
        {std::string(256, 'b'), true, Bytes(128, 0xBB)},
        {std::string(258, 'b'), false, Bytes(129, 0xBB)},
    };
    for (const HexCase& c : cases) {
        Bytes out{0x99};
        EXPECT_EQ(parse_hex_text(c.text, out), c.ok) << c.text;
        EXPECT_EQ(out, c.bytes) << c.text;
    }
}

TEST(TextUtils, MembersGoBeforeTheLastClosingBrace) {
    std::string text = "{\"a\":{\"b\":1}}";
    insert_members(text, ",\"c\":2");
    EXPECT_EQ(text, "{\"a\":{\"b\":1},\"c\":2}");
    std::string no_brace = "[1]";
    insert_members(no_brace, ",\"c\":2");
    EXPECT_EQ(no_brace, "[1]");
}

TEST(TextUtils, CopyOutCopiesWhatFitsAndReturnsTheFullLength) {
    struct Case {
        int size;
        std::string kept;
    };
    for (const Case& c : std::vector<Case>{{0, "!!!!!!"}, {1, ""}, {4, "abc"}, {7, "abcdef"}, {100, "abcdef"}}) {
        char buffer[8] = "!!!!!!";
        EXPECT_EQ(copy_out("abcdef", buffer, c.size), 6);
        EXPECT_EQ(std::string(buffer), c.kept) << c.size;
    }
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

}  // namespace
}  // namespace vx
