// The text conversions that every result text and log line is made of.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <string>

#include "core/result_writer.h"
#include "core/text_utils.h"

namespace vx {
namespace {

TEST(JsonEscaping, EscapesQuoteBackslashAndControlBytesOnly) {
    EXPECT_EQ(json_escaped("say \"hi\"\\ok"), "say \\\"hi\\\"\\\\ok");
    EXPECT_EQ(json_escaped("a\r\nb\tc"), "a\\r\\nb\\tc");
    EXPECT_EQ(json_escaped("\x1b"), "\\u001b");
    EXPECT_EQ(json_escaped(std::string("\x01\x1f", 2)), "\\u0001\\u001f");
    EXPECT_EQ(json_escaped(std::string("a\0b", 3)), "a\\u0000b");
    // Bytes from 0x20 up pass one by one, without UTF-8 handling.
    EXPECT_EQ(json_escaped("\x7f"), "\x7f");
    EXPECT_EQ(json_escaped("Gr\xc3\xbc\xc3\x9f"), "Gr\xc3\xbc\xc3\x9f");
    EXPECT_EQ(json_escaped("C:/J2534/op.dll"), "C:/J2534/op.dll");
    EXPECT_EQ(json_escaped(""), "");

    std::string out = "\"path\":\"";
    append_json_escaped(out, "C:\\x");
    EXPECT_EQ(out, "\"path\":\"C:\\\\x") << "appends after what is already there";
}

TEST(HexByteText, IsUppercasePairsSeparatedBySingleBlanks) {
    EXPECT_EQ(hex_bytes_text(Bytes{0x68, 0x6A, 0xF1, 0x01, 0x00}), "68 6A F1 01 00");
    EXPECT_EQ(hex_bytes_text(Bytes{0x55}), "55");
    EXPECT_EQ(hex_bytes_text(Bytes{}), "");
    EXPECT_EQ(hex_bytes_text(nullptr, 0), "");

    std::string out = "TX=";
    const std::uint8_t frame[] = {0xC1, 0x33, 0xF1};
    append_hex_bytes(out, frame, 2);
    EXPECT_EQ(out, "TX=C1 33");
}

// Parses text and gives the bytes as hex byte text, or "fail".
std::string parsed(std::string_view text) {
    Bytes bytes;
    return parse_hex_text(text, bytes) ? hex_bytes_text(bytes) : "fail";
}

TEST(HexTextParse, AcceptsDigitPairsWithPrefixesAndSeparators) {
    EXPECT_EQ(parsed("55"), "55");
    EXPECT_EQ(parsed("0x55"), "55");
    EXPECT_EQ(parsed("0X55"), "55");
    EXPECT_EQ(parsed("5 5"), "55") << "separators do not split a digit pair";
    EXPECT_EQ(parsed("68 6a f1"), "68 6A F1");
    EXPECT_EQ(parsed("0x55,0x01"), "55 01");
    EXPECT_EQ(parsed("1x23"), "23") << "x discards the pending half-byte";
    EXPECT_EQ(parsed("C1:33-F1;81 zz 00"), "C1 33 F1 81 00");
}

TEST(HexTextParse, FailsWithoutAWholeByteOrBeyond128Bytes) {
    EXPECT_EQ(parsed(""), "fail");
    EXPECT_EQ(parsed("no digits here"), "fail");
    EXPECT_EQ(parsed("0x"), "fail");
    EXPECT_EQ(parsed("555"), "fail") << "odd digit count";
    EXPECT_EQ(parsed("G1"), "fail") << "G is skipped and 1 stays pending";
    EXPECT_EQ(parsed("12 3x"), "12") << "x drops the pending 3";

    std::string digits;
    for (int i = 0; i < 128; ++i) digits += "A5";
    Bytes bytes;
    EXPECT_TRUE(parse_hex_text(digits, bytes));
    EXPECT_EQ(bytes.size(), 128u);

    digits += "5A";
    EXPECT_FALSE(parse_hex_text(digits, bytes));
    EXPECT_EQ(bytes.size(), 129u) << "the output keeps what was read";
}

TEST(HexTextParse, EmptiesTheOutputFirst) {
    Bytes bytes{0xDE, 0xAD};
    EXPECT_TRUE(parse_hex_text("01", bytes));
    EXPECT_EQ(bytes, (Bytes{0x01}));
    EXPECT_FALSE(parse_hex_text("", bytes));
    EXPECT_TRUE(bytes.empty());
}

TEST(DecimalText, SignedHasMinusOnlyAndUnsignedKeepsTheFullRange) {
    EXPECT_EQ(decimal_text(0), "0");
    EXPECT_EQ(decimal_text(7), "7");
    EXPECT_EQ(decimal_text(-1), "-1");
    EXPECT_EQ(decimal_text(-100), "-100");
    EXPECT_EQ(decimal_text(INT32_MAX), "2147483647");
    EXPECT_EQ(decimal_text(INT32_MIN), "-2147483648");
    EXPECT_EQ(unsigned_text(0), "0");
    EXPECT_EQ(unsigned_text(UINT32_MAX), "4294967295");
    EXPECT_EQ(unsigned_text(1000), "1000");
}

TEST(MemberInsertion, GoesBeforeTheLastClosingBrace) {
    std::string result = "{\"ok\":true,\"data\":{\"a\":1}}";
    insert_members(result, ",\"faults\":[]");
    EXPECT_EQ(result, "{\"ok\":true,\"data\":{\"a\":1},\"faults\":[]}");

    std::string flat = "{\"ok\":false}";
    insert_members(flat, ",\"noTx\":true,\"n\":2");
    EXPECT_EQ(flat, "{\"ok\":false,\"noTx\":true,\"n\":2}");

    std::string broken = "{\"ok\":false";
    insert_members(broken, ",\"noTx\":true");
    EXPECT_EQ(broken, "{\"ok\":false");
}

TEST(CopyOut, CopiesWhatFitsAndAlwaysReturnsTheFullLength) {
    const std::string text = "{\"ok\":true}";  // 11 bytes
    char buffer[16];

    std::memset(buffer, 'Z', sizeof buffer);
    EXPECT_EQ(copy_out(text, buffer, 0), 11);
    EXPECT_EQ(copy_out(text, buffer, -3), 11);
    EXPECT_EQ(copy_out(text, nullptr, 16), 11);
    EXPECT_EQ(buffer[0], 'Z') << "nothing written for size 0, negative size or null buffer";

    EXPECT_EQ(copy_out(text, buffer, 1), 11);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(buffer[1], 'Z');

    std::memset(buffer, 'Z', sizeof buffer);
    EXPECT_EQ(copy_out(text, buffer, 6), 11);
    EXPECT_STREQ(buffer, "{\"ok\"");
    EXPECT_EQ(buffer[6], 'Z');

    std::memset(buffer, 'Z', sizeof buffer);
    EXPECT_EQ(copy_out(text, buffer, 12), 11) << "exact fit: text and NUL";
    EXPECT_STREQ(buffer, "{\"ok\":true}");
    EXPECT_EQ(buffer[12], 'Z');

    EXPECT_EQ(copy_out("", buffer, 16), 0);
    EXPECT_EQ(buffer[0], '\0');
}

TEST(ResultWriter, AppendsFragmentsAndConvertedValuesWithoutWhiteSpace) {
    ResultWriter w;
    w.raw("{\"ok\":").boolean(false).raw(",\"rc\":").signed_number(-200)
        .raw(",\"id\":").unsigned_number(UINT32_MAX).raw(",\"txHex\":\"").hex(Bytes{0x55, 0x01})
        .raw("\",\"error\":\"").text("bad \"path\"\n").raw("\"}");
    EXPECT_EQ(w.str(),
              "{\"ok\":false,\"rc\":-200,\"id\":4294967295,\"txHex\":\"55 01\","
              "\"error\":\"bad \\\"path\\\"\\n\"}");
}

}  // namespace
}  // namespace vx
