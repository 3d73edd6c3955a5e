// The device's owner in vxdiag serve, on injected time: a page that went
// idle gives the device up closed, even when the next page claims it before
// the idle check has come round.
#include "web_host.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>

namespace {

using Clock = vxdiag::WebHost::Clock;
using nlohmann::json;

json body_of(const vxdiag::WebAnswer& answer) { return json::parse(answer.body); }

TEST(WebHost, ANewPageStartsOnAClosedDeviceWhateverTheIdleCheckDid) {
    setenv("VXSIM_INSTANT", "1", 1);
    std::string error;
    const auto core = vxdiag::CoreLibrary::load(VXDIAG_CORE_PATH, error);
    ASSERT_TRUE(core) << error;
    vxdiag::WebHost host(*core, VXDIAG_SIM_PATH, std::chrono::seconds(10));
    const Clock::time_point start = Clock::now();

    const std::string first = body_of(host.claim(start))["session"];
    const vxdiag::WebAnswer opened = host.step(first, R"({"step":"open"})", start);
    ASSERT_TRUE(body_of(opened)["deviceOpen"].get<bool>()) << opened.body;

    EXPECT_EQ(host.claim(start + std::chrono::seconds(9)).status, 409) << "the first page is still active";
    const vxdiag::WebAnswer second = host.claim(start + std::chrono::seconds(11));
    ASSERT_EQ(second.status, 200) << second.body;
    const std::string session = body_of(second)["session"];

    EXPECT_EQ(host.step(first, R"({"step":"battery"})", start + std::chrono::seconds(11)).status, 409);
    const json log = body_of(host.step(session, R"({"step":"log"})", start + std::chrono::seconds(11)));
    EXPECT_FALSE(log["deviceOpen"].get<bool>()) << log.dump();
}

}  // namespace
