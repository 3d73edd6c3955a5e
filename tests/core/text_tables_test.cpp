// The request reader and the text conversions every result and log line is
// made of, row by row from text_tables.json (what each table holds is told in
// its "about").
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <string>

#include "core/request_reader.h"
#include "core/result_writer.h"
#include "core/text_utils.h"

namespace vx {
namespace {

using json = nlohmann::json;

const json& rows(const char* table) {
    static const json kTables = json::parse(std::ifstream(VXDIAG_TEST_DIR "/core/text_tables.json"));
    const json& found = kTables.at(table);
    EXPECT_FALSE(found.empty()) << table;
    return found;
}

const char* request(const json& value) { return value.is_null() ? nullptr : value.get_ref<const std::string&>().c_str(); }

TEST(TextTables, RequestFieldsReadTextIntegerAndFlag) {
    for (const json& r : rows("request_text")) {
        EXPECT_EQ(RequestFields(request(r[0])).text(r[1].get<std::string>()), r[2].get<std::string>()) << r;
    }
    for (const json& r : rows("request_int")) {
        EXPECT_EQ(RequestFields(request(r[0])).integer(r[1].get<std::string>(), r[2].get<int>()), r[3].get<int>()) << r;
    }
    for (const json& r : rows("request_flag")) EXPECT_EQ(RequestFields(request(r[0])).flag("f"), r[1].get<bool>()) << r;
}

TEST(TextTables, JsonEscapingHexReadingAndCopyOut) {
    for (const json& r : rows("json_escape")) EXPECT_EQ(json_escaped_text(r[0].get<std::string>()), r[1]) << r;
    for (const json& r : rows("hex")) {
        Bytes out{0x99};
        EXPECT_EQ(parse_hex_text(r[0].get<std::string>(), out), r[1].get<bool>()) << r[0];
        EXPECT_EQ(out, r[2].get<Bytes>()) << r[0];
    }
    for (const json& r : rows("copy_out")) {
        char buffer[8] = "!!!!!!";
        EXPECT_EQ(copy_out("abcdef", buffer, r[0].get<int>()), 6);
        EXPECT_EQ(std::string(buffer), r[1].get<std::string>()) << r[0];
    }
    EXPECT_EQ(copy_out("abcdef", nullptr, 50), 6) << "without room it only measures";
}

TEST(TextTables, NumbersHexBytesMembersAndLowercase) {
    for (const json& r : rows("tenths")) EXPECT_EQ(tenths_text(r[0].get<std::uint64_t>()), r[1]) << r;
    for (const json& r : rows("hex_bytes")) EXPECT_EQ(hex_bytes_text(r[0].get<Bytes>()), r[1]) << r;
    for (const json& r : rows("insert_members")) {
        std::string text = r[0].get<std::string>();
        insert_members(text, r[1].get<std::string>());
        EXPECT_EQ(text, r[2]) << r;
    }
    for (const json& r : rows("lowercase")) EXPECT_EQ(ascii_lowercase(r[0].get<std::string>()), r[1]) << r;
}

TEST(TextTables, ResultWriterEscapesOnlyTextValues) {
    ResultWriter w;
    const std::uint8_t frame[] = {0x01, 0xFE};
    w.raw("{\"s\":\"").text("a\"b").raw("\",\"t\":").boolean(true).raw(",\"f\":").boolean(false);
    w.raw(",\"n\":").signed_number(-5).raw(",\"u\":").unsigned_number(5).raw(",\"v\":").tenths(126);
    w.raw(",\"h\":\"").hex(frame).raw("\"}");
    EXPECT_EQ(w.str(), R"({"s":"a\"b","t":true,"f":false,"n":-5,"u":5,"v":12.6,"h":"01 FE"})");
}

}  // namespace
}  // namespace vx
