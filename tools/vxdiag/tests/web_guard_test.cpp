// The door of vxdiag serve: which requests it answers, by Host, Origin,
// Sec-Fetch-Site and token, and where it finds the token in a page address.
// The cases are the tables of data/web_guard.json.
#include "web_guard.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <map>
#include <regex>

namespace {

using vxdiag::Refusal;

nlohmann::json cases() {
    return nlohmann::json::parse(std::ifstream(std::string(VXDIAG_TEST_DATA) + "/web_guard.json"));
}

TEST(WebGuard, AnswersOnlyThePageItHandedOut) {
    const std::map<std::string, Refusal> refusals = {
        {"nothing", Refusal::None}, {"host", Refusal::Host}, {"origin", Refusal::Origin}, {"token", Refusal::Token}};
    const nlohmann::json table = cases();
    const vxdiag::WebGuard guard(table["guard"]["token"], table["guard"]["port"]);
    ASSERT_EQ(table["requests"].size(), 16u);
    for (const auto& c : table["requests"]) {
        const std::vector<std::string> facts = c;
        EXPECT_EQ(guard.check({facts[0], facts[1], facts[2], facts[3]}), refusals.at(facts[4])) << c.dump();
    }
    EXPECT_EQ(vxdiag::WebGuard("", 8080).check({"127.0.0.1:8080", "", "", ""}), Refusal::Token);
}

TEST(WebGuard, FindsTheTokenInTheQueryAndMakesFreshOnes) {
    const nlohmann::json queries = cases()["queries"];
    ASSERT_EQ(queries.size(), 6u);
    for (const auto& c : queries) {
        EXPECT_EQ(vxdiag::query_value(c[0].get<std::string>(), "token"), c[1]) << c;
    }
    const std::string first = vxdiag::random_token();
    EXPECT_TRUE(std::regex_match(first, std::regex("[0-9a-f]{32}"))) << first;
    EXPECT_NE(first, vxdiag::random_token());
}

}  // namespace
