// The library frame's own exports, called as a host calls them.
#include <cstring>

#include "support/core_fixture.h"

namespace vx::testing {
namespace {

using FrameExports = CoreTest;

TEST_F(FrameExports, CoreVersionIsTheFixedIdentificationTextAndLogsNothing) {
    const char* first = VX_CoreVersion();
    EXPECT_STREQ(first, "Vexaro Arvessa Ryx J2534 communication core ready");
    EXPECT_EQ(first, VX_CoreVersion());
    EXPECT_EQ(log(), "");
}

TEST_F(FrameExports, SetSimulationSwitchesAndLogsOnOrOff) {
    EXPECT_EQ(VX_SetSimulation(5), 0);
    EXPECT_TRUE(core_state().simulation);
    EXPECT_EQ(VX_SetSimulation(0), 0);
    EXPECT_FALSE(core_state().simulation);
    EXPECT_EQ(VX_SetSimulation(-1), 0);
    EXPECT_TRUE(core_state().simulation);
    EXPECT_EQ(log(),
              "2024-03-05 09:07:31 simulation=ON\r\n"
              "2024-03-05 09:07:31 simulation=OFF\r\n"
              "2024-03-05 09:07:31 simulation=ON\r\n");
}

TEST_F(FrameExports, SetSimulationLeavesChannelAndInitFlagAlone) {
    core_state().channel_id = 7;
    core_state().ecu_init_confirmed = true;
    VX_SetSimulation(1);
    EXPECT_EQ(core_state().channel_id, 7u);
    EXPECT_TRUE(core_state().ecu_init_confirmed);
    core_state().channel_id = 0;
    core_state().ecu_init_confirmed = false;
}

TEST_F(FrameExports, GetLastLogFollowsTheBufferConvention) {
    char buffer[64];
    std::memset(buffer, 'Z', sizeof buffer);
    EXPECT_EQ(VX_GetLastLog(buffer, sizeof buffer), 0);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(buffer[1], 'Z');

    VX_SetSimulation(1);
    const std::string full = "2024-03-05 09:07:31 simulation=ON\r\n";
    const int length = static_cast<int>(full.size());

    std::memset(buffer, 'Z', sizeof buffer);
    EXPECT_EQ(VX_GetLastLog(nullptr, 100), length);
    EXPECT_EQ(VX_GetLastLog(buffer, 0), length);
    EXPECT_EQ(VX_GetLastLog(buffer, -5), length);
    EXPECT_EQ(buffer[0], 'Z');

    EXPECT_EQ(VX_GetLastLog(buffer, 1), length);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(buffer[1], 'Z');

    EXPECT_EQ(VX_GetLastLog(buffer, 11), length);
    EXPECT_STREQ(buffer, "2024-03-05");

    EXPECT_EQ(VX_GetLastLog(buffer, sizeof buffer), length);
    EXPECT_EQ(std::string(buffer), full);
    EXPECT_EQ(VX_GetLastLog(buffer, sizeof buffer), length) << "reading leaves the log as it was";
}

}  // namespace
}  // namespace vx::testing
