// VX_ReadBatteryVoltage on the simulated device.
#include <vector>

#include "readings/battery_voltage.h"
#include "support/sim_device.h"

namespace vx::testing {
namespace {

std::string read_voltage() {
    char buffer[512];
    const int length = VX_ReadBatteryVoltage(buffer, static_cast<int>(sizeof buffer));
    EXPECT_EQ(length, static_cast<int>(std::string(buffer).size()));
    return buffer;
}

std::string entry(std::string_view text) { return "2024-03-05 09:07:31" + std::string(text) + "\r\n"; }

class BatteryVoltage : public SimDeviceTest {
protected:
    void connect_channel() {
        open_device();
        char buffer[1024];
        VX_TestIso9141Connect(10400, buffer, static_cast<int>(sizeof buffer));
        ASSERT_NE(core_state().channel_id, 0u) << buffer;
        sim.sim_clear_calls();
        clear_log_for_tests();
    }
};

TEST_F(BatteryVoltage, ReadingIsShownWithOneDecimalAndLoggedWithSix) {
    connect_channel();
    EXPECT_EQ(read_voltage(),
              R"({"ok":true,"available":true,"volts":12.6,"vbattMilliV":12600,"display":"12.6V","message":"Battery voltage read from J2534 READ_VBATT."})");
    EXPECT_EQ(log(), entry(" VX_ReadBatteryVoltage volts=12.600000"));
    // READ_VBATT goes to the channel, with an output pointer and no input.
    const std::vector<sim_call> ioctls = sim.calls_of(SIM_FN_IOCTL);
    ASSERT_EQ(ioctls.size(), 1u);
    EXPECT_EQ(ioctls[0].ioctl_id, 3u);
    EXPECT_EQ(ioctls[0].channel_id, core_state().channel_id);
    EXPECT_EQ(ioctls[0].input_non_null, 0);
    EXPECT_EQ(ioctls[0].output_non_null, 1);

    struct Case {
        unsigned long milli_volts;
        std::string volts;
        std::string log_volts;
    };
    const Case cases[] = {
        {9000, "9.0", "9.000000"},
        {1, "0.0", "0.001000"},
        {12649, "12.6", "12.649000"},
        {12650, "12.7", "12.650000"},  // an exact half goes up
        {12050, "12.1", "12.050000"},
        {49, "0.0", "0.049000"},
        {50, "0.1", "0.050000"},
        {4294967295ul, "4294967.3", "4294967.295000"},  // top bit set: unsigned
    };
    for (const Case& c : cases) {
        sim.sim_set_battery_millivolts(c.milli_volts);
        clear_log_for_tests();
        EXPECT_EQ(read_voltage(), R"({"ok":true,"available":true,"volts":)" + c.volts + R"(,"vbattMilliV":)" +
                                      std::to_string(c.milli_volts) + R"(,"display":")" + c.volts +
                                      R"(V","message":"Battery voltage read from J2534 READ_VBATT."})");
        EXPECT_EQ(log(), entry(" VX_ReadBatteryVoltage volts=" + c.log_volts));
    }
}

TEST_F(BatteryVoltage, NoValueIsAvailableButNeverAFailure) {
    const auto unavailable = [](std::string_view rc, std::string_view name) {
        return R"({"ok":true,"available":false,"display":"----","readVBattRc":)" + std::string(rc) +
               R"(,"readVBattRcName":")" + std::string(name) +
               R"(","message":"Battery voltage unavailable; no J2534 channel/value is available."})";
    };
    // Device open, no channel: nothing asked.
    open_device();
    sim.sim_clear_calls();
    clear_log_for_tests();
    EXPECT_EQ(read_voltage(), unavailable("-1", "ERR_UNKNOWN"));
    EXPECT_TRUE(sim.call_names().empty());
    EXPECT_EQ(log(), entry(" VX_ReadBatteryVoltage unavailable rc=-1"));

    connect_channel();
    sim.sim_set_battery_millivolts(0);
    EXPECT_EQ(read_voltage(), unavailable("0", "STATUS_NOERROR"));
    sim.sim_set_ioctl_status(3, 1);
    EXPECT_EQ(read_voltage(), unavailable("1", "ERR_NOT_SUPPORTED"));
    EXPECT_EQ(log(), entry(" VX_ReadBatteryVoltage unavailable rc=0") + entry(" VX_ReadBatteryVoltage unavailable rc=1"));
}

TEST_F(BatteryVoltage, WithoutIoctlEntryNothingIsAsked) {
    connect_channel();
    core_state().entry.ioctl = nullptr;  // a binding requires it; covers the guard
    EXPECT_TRUE(read_voltage().starts_with(
        R"({"ok":true,"available":false,"display":"----","readVBattRc":-1,"readVBattRcName":"ERR_UNKNOWN",)"));
    EXPECT_TRUE(sim.call_names().empty());
}

TEST_F(BatteryVoltage, SimulationGivesTheFixedReadingSilently) {
    connect_channel();
    VX_SetSimulation(1);
    clear_log_for_tests();
    sim.sim_clear_calls();
    EXPECT_EQ(read_voltage(),
              R"({"ok":true,"available":true,"simulation":true,"volts":12.6,"vbattMilliV":12600,"display":"12.6V","message":"Simulation battery voltage."})");
    EXPECT_EQ(log(), "");
    EXPECT_TRUE(sim.call_names().empty());
}

TEST(VoltsText, RoundsHalvesUpAndKeepsSixExactDecimals) {
    EXPECT_EQ(readings::volts_one_decimal(0), "0.0");
    EXPECT_EQ(readings::volts_one_decimal(14950), "15.0");
    EXPECT_EQ(readings::volts_one_decimal(14949), "14.9");
    EXPECT_EQ(readings::volts_six_decimals(0), "0.000000");
    EXPECT_EQ(readings::volts_six_decimals(13007), "13.007000");
}

}  // namespace
}  // namespace vx::testing
