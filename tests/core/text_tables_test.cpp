// The request reader and the text conversions, row by row from text_tables.json
// (what each table holds is told in its "about").
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <string>

#include "core/request_reader.h"
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
}

}  // namespace
}  // namespace vx
