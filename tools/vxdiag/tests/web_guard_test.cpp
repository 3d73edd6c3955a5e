// The door of vxdiag serve: which requests it answers, by Host, Origin,
// Sec-Fetch-Site and token, and where it finds the token in a page address.
#include "web_guard.h"

#include <gtest/gtest.h>

#include <regex>

namespace {

using vxdiag::Refusal;

TEST(WebGuard, AnswersOnlyThePageItHandedOut) {
    const std::string token = "0123456789abcdef0123456789abcdef";
    const vxdiag::WebGuard guard(token, 8080);
    struct Case {
        const char* host;
        const char* origin;
        const char* fetch_site;
        std::string token;
        Refusal expected;
    };
    const Case cases[] = {
        {"127.0.0.1:8080", "", "", token, Refusal::None},
        {"localhost:8080", "http://localhost:8080", "same-origin", token, Refusal::None},
        {"127.0.0.1:8080", "http://127.0.0.1:8080", "none", token, Refusal::None},
        {"127.0.0.1:8080", "", "", "", Refusal::Token},
        {"127.0.0.1:8080", "", "", token.substr(1) + "0", Refusal::Token},
        {"127.0.0.1:8080", "", "", token + "0", Refusal::Token},
        {"rebound.example:8080", "", "", token, Refusal::Host},     // DNS rebinding
        {"127.0.0.1:8081", "", "", token, Refusal::Host},
        {"127.0.0.1", "", "", token, Refusal::Host},
        {"", "", "", token, Refusal::Host},
        {"127.0.0.1:8080", "http://evil.example", "", token, Refusal::Origin},
        {"127.0.0.1:8080", "https://127.0.0.1:8080", "", token, Refusal::Origin},
        {"127.0.0.1:8080", "http://127.0.0.1:8080.evil.example", "", token, Refusal::Origin},
        {"127.0.0.1:8080", "null", "", token, Refusal::Origin},
        {"127.0.0.1:8080", "", "cross-site", token, Refusal::Origin},
        {"127.0.0.1:8080", "", "same-site", token, Refusal::Origin},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(guard.check({c.host, c.origin, c.fetch_site, c.token}), c.expected)
            << "Host " << c.host << " Origin " << c.origin << " Sec-Fetch-Site " << c.fetch_site << " token " << c.token;
    }
    EXPECT_EQ(vxdiag::WebGuard("", 8080).check({"127.0.0.1:8080", "", "", ""}), Refusal::Token);
}

TEST(WebGuard, FindsTheTokenInTheQueryAndMakesFreshOnes) {
    const std::pair<const char*, const char*> targets[] = {
        {"/?token=ab12", "ab12"}, {"/?x=1&token=cd&y=2", "cd"}, {"/?tokens=ab", ""},
        {"/?token", ""},          {"/token=ab", ""},            {"/?a=1&token=", ""},
    };
    for (const auto& [target, expected] : targets) EXPECT_EQ(vxdiag::query_value(target, "token"), expected) << target;
    const std::string first = vxdiag::random_token();
    EXPECT_TRUE(std::regex_match(first, std::regex("[0-9a-f]{32}"))) << first;
    EXPECT_NE(first, vxdiag::random_token());
}

}  // namespace
