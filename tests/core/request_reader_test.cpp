// Reading fields out of the loosely formed request texts hosts send.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "core/request_reader.h"

namespace vx {
namespace {

std::string request_text(const char* request, std::string_view key) { return RequestFields(request).text(key); }
int request_int(const char* request, std::string_view key, int fallback) {
    return RequestFields(request).integer(key, fallback);
}
bool request_flag(const char* request, std::string_view key) { return RequestFields(request).flag(key); }

struct TextCase {
    const char* request;
    const char* key;
    std::string expected;
};

TEST(RequestText, ReadsTheValueAfterTheColonThatFollowsTheFirstQuotedKey) {
    const TextCase cases[] = {
        {R"({"name":"Idle test","mode":"Verified"})", "name", "Idle test"},
        {"{\"maxRunMs\":\t\r\n 250}", "maxRunMs", "250"},
        // A bare value runs to the first comma or brace, or to the end; only
        // blanks and TABs are trimmed, a trailing CR or LF stays.
        {R"({"timeoutMs":abc def,"x":1})", "timeoutMs", "abc def"},
        {R"({"mode":"x","maxRunMs":250)", "maxRunMs", "250"},
        {"{\"trailer\":  12 \t }", "trailer", "12"},
        {"{\"flag\":5\n,\"x\":1}", "flag", "5\n"},
        // Escapes in a quoted value: a\"b\\c\nd gives seven characters.
        {R"({"name":"a\"b\\c\nd"})", "name", "a\"b\\c\nd"},
        {R"({"name":"\/\t\r\u0041"})", "name", "/\t\ru0041"},
        {R"({"name":"a,b}c"})", "name", "a,b}c"},
        // Anything between the quoted key and the colon is skipped; a string
        // value equal to the quoted key is the first match, and the next
        // colon belongs to whichever member comes first; a closing quote can
        // open the key that is found.
        {R"({"name" "junk" : "real"})", "name", "real"},
        {R"({"label":"name","other":"v","name":"real"})", "name", "v"},
        {R"({"x"name":"v"})", "name", "v"},
        {R"(["name" "x" "y"])", "name", ""},
        {R"({"mode":"a","mode":"b"})", "mode", "a"},
        // Keys match case-sensitively and only quoted.
        {R"({"Name":"x","names":"y",name:"z"})", "name", ""},
        // Malformed ends: no colon, colon last, only blanks, unterminated.
        {R"({"name")", "name", ""},
        {R"({"name":)", "name", ""},
        {"{\"name\": \t\r\n", "name", ""},
        {R"({"name":"unterminated)", "name", "unterminated"},
        {R"({"name":"ends in \)", "name", "ends in "},
        {"", "name", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(request_text(c.request, c.key), c.expected) << c.request;
    }
    EXPECT_EQ(request_text(nullptr, "name"), "");
}

TEST(RequestInt, DefaultOnlyForAnEmptyTextOtherwiseConvertedLikeStrtol) {
    struct IntCase {
        const char* request;
        int expected;
    };
    const IntCase cases[] = {
        {R"({"sequence":  7  })", 7},
        {R"({"sequence":"7"})", 7},
        {R"({"sequence":""})", -1},
        {R"({"other":3})", -1},
        {R"({"sequence":abc})", 0},
        {R"({"sequence":12ms})", 12},
        {R"({"sequence":-5})", -5},
        {R"({"sequence":+8})", 8},
        {R"({"sequence":" -9"})", -9},
        {"{\"sequence\":\"\v\f 4\"}", 4},  // strtol skips every C white space
        {R"({"sequence":"- 5"})", 0},
        {R"({"sequence":"0x1F"})", 0},
        {"{\"sequence\":5\r\n}", 5},
        {R"({"sequence":2147483647})", INT_MAX},
        {R"({"sequence":2147483648})", INT_MAX},
        {R"({"sequence":-2147483648})", INT_MIN},
        {R"({"sequence":-2147483649})", INT_MIN},
        {R"({"sequence":99999999999999999999999999999999})", INT_MAX},
        {R"({"sequence":-00000000000000000000000000000012})", -12},
        {R"({"sequence":-99999999999999999999999999999999})", INT_MIN},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(request_int(c.request, "sequence", -1), c.expected) << c.request;
    }
    EXPECT_EQ(request_int(nullptr, "timeoutMs", 1500), 1500);
}

TEST(RequestFlag, TrueOnlyForTrueOneOrYesInAnyCase) {
    struct FlagCase {
        const char* request;
        bool expected;
    };
    const FlagCase cases[] = {
        {R"({"f":true})", true},      {R"({"f":"TRUE"})", true}, {R"({"f":"Yes"})", true},
        {R"({"f":1})", true},         {R"({"f":"on"})", false},  {R"({"f":"y"})", false},
        {R"({"f":2})", false},        {R"({"f":false})", false}, {R"({"g":true})", false},
        {R"({"f":" true"})", false},  // no trimming of a quoted value
        {"{\"f\":true\r\n}", false},  // a bare value keeps its CR LF
    };
    for (const auto& c : cases) {
        EXPECT_EQ(request_flag(c.request, "f"), c.expected) << c.request;
    }
    EXPECT_FALSE(request_flag(nullptr, "f"));
}

TEST(AsciiLowercase, ChangesOnlyAToZ) {
    EXPECT_EQ(ascii_lowercase("Verified MODE-9_[@]"), "verified mode-9_[@]");
    EXPECT_EQ(ascii_lowercase("\xC4\xD6Z"), "\xC4\xD6z");
    EXPECT_EQ(ascii_lowercase(""), "");
}

}  // namespace
}  // namespace vx
