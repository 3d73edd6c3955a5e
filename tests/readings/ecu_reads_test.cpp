// VX_ReadFaults and VX_ReadLiveData.
#include <cstring>

#include "commands/command_fixture.h"

namespace vx::testing {
namespace {

constexpr std::string_view kNoChannelFaults =
    R"({"ok":false,"mode":"real-j2534","message":"No J2534 channel is open. Connect ECU first.","faults":[]})";
constexpr std::string_view kNoChannelValues =
    R"({"ok":false,"mode":"real-j2534","message":"No J2534 channel is open. Connect ECU first.","values":[]})";
constexpr std::string_view kSimulatedFaults =
    R"({"ok":true,"mode":"Simulation","message":"No fault data returned yet.","faults":[]})";

std::string live_data() { return call_export(VX_ReadLiveData, "ignored"); }

std::string values_at(std::uint32_t ticks) {
    FakeClock::ticks = ticks;
    return live_data();
}

std::string expected_values(std::string_view rpm, std::string_view volts, std::string_view temp,
                            std::string_view throttle, std::string_view injection) {
    const auto value = [](std::string_view name, std::string_view v, std::string_view unit, std::string_view address) {
        return R"({"name":")" + std::string(name) + R"(","value":")" + std::string(v) + R"(","unit":")" +
               std::string(unit) + R"(","address":")" + std::string(address) + "\"}";
    };
    return R"({"ok":true,"mode":"simulation","releaseMode":"group","values":[)" +
           value("Engine speed", rpm, "rpm", "0x2001") + "," + value("Battery voltage", volts, "V", "0x2006") + "," +
           value("Engine temperature", temp, "degrees C", "0x2008") + "," +
           value("Throttle absolute angle", throttle, "%", "0x2058") + "," +
           value("Injection time", injection, "ms", "0x2060") + "]}";
}

using EcuReads = ChannelTest;

TEST_F(EcuReads, SimulatedLiveValuesFollowOneTickReading) {
    VX_SetSimulation(1);
    clear_log_for_tests();
    EXPECT_EQ(values_at(0), expected_values("850", "13.4", "78.0", "2.5", "2.0"));
    EXPECT_EQ(values_at(1000), expected_values("861", "13.6", "79.0", "2.6", "2.1"));
    EXPECT_EQ(values_at(1500), expected_values("866", "13.7", "79.0", "2.7", "2.2"));
    EXPECT_EQ(values_at(16199), expected_values("1029", "13.4", "78.0", "3.7", "2.7"));
    EXPECT_EQ(values_at(16200), expected_values("850", "13.4", "78.0", "3.8", "2.7"));
    EXPECT_EQ(values_at(4294967295u), expected_values("928", "14.0", "87.0", "3.3", "2.3"));
    EXPECT_EQ(log(), "") << "the simulated live data writes no log line";
}

TEST_F(EcuReads, SimulationWinsOverAnOpenChannel) {
    connect_channel();
    VX_SetSimulation(1);
    clear_log_for_tests();
    sim.sim_clear_calls();
    EXPECT_EQ(call_export(VX_ReadFaults, nullptr), kSimulatedFaults);
    EXPECT_EQ(kSimulatedFaults.size(), 83u);
    EXPECT_TRUE(live_data().starts_with(R"({"ok":true,"mode":"simulation",)"));
    EXPECT_TRUE(sim.call_names().empty());
    // The simulated fault read's line ends with LF alone.
    EXPECT_EQ(log(), "2024-03-05 09:07:31 VX_ReadFaults simulation - no decoded fault rows returned yet\n");
}

TEST_F(EcuReads, WithoutChannelBothAnswerConnectFirstSilently) {
    open_device();
    clear_log_for_tests();
    EXPECT_EQ(call_export(VX_ReadFaults, nullptr), kNoChannelFaults);
    EXPECT_EQ(call_export(VX_ReadLiveData, nullptr), kNoChannelValues);
    EXPECT_EQ(log(), "");

    // Truncation keeps the full length as the return value.
    char buffer[50];
    std::memset(buffer, 'Z', sizeof buffer);
    EXPECT_EQ(VX_ReadFaults(nullptr, buffer, 50), 101);
    EXPECT_EQ(std::string(buffer), kNoChannelFaults.substr(0, 49));
    EXPECT_EQ(VX_ReadLiveData(nullptr, buffer, 50), 101);
    EXPECT_EQ(std::string(buffer), kNoChannelValues.substr(0, 49));
    VX_SetSimulation(1);
    EXPECT_EQ(VX_ReadFaults(nullptr, buffer, 50), 83);
    EXPECT_EQ(std::string(buffer), kSimulatedFaults.substr(0, 49));
}

TEST_F(EcuReads, OpenChannelRunsTheReadProbeWithTheObdRequest) {
    connect_channel(/*confirm_init=*/false);  // reads do not need the initialisation
    sim.queue_reply({0x48, 0x6B, 0x10, 0x43, 0x00}, 1);
    const std::string faults = call_export(VX_ReadFaults, nullptr);
    EXPECT_TRUE(faults.starts_with(R"({"ok":true,"mode":"real-j2534-backend-forward",)")) << faults;
    EXPECT_TRUE(contains(faults, R"("readType":"faults","context":"read/probe",)")) << faults;
    EXPECT_TRUE(contains(faults, R"("rx":[)" + rx_entry("48 6B 10 43 00", 5) + "]")) << faults;
    EXPECT_TRUE(faults.ends_with(R"( command.","faults":[]})")) << faults;
    EXPECT_EQ(sim.written_frames(), (std::vector<std::vector<std::uint8_t>>{{0x68, 0x6A, 0xF1, 0x03}}));
    EXPECT_EQ(timeouts_of(SIM_FN_WRITE_MSGS), (std::vector<unsigned long>{1500}));
    EXPECT_FALSE(contains(log(), "VX_ReadFaults")) << "only the probe's own lines";

    sim.sim_clear_calls();
    const std::string values = live_data();
    EXPECT_TRUE(contains(values, R"("readType":"parameters","context":"read/probe",)")) << values;
    EXPECT_TRUE(values.ends_with(R"( command."})")) << "returned unchanged: " << values;
    EXPECT_EQ(sim.written_frames(), (std::vector<std::vector<std::uint8_t>>{{0x68, 0x6A, 0xF1, 0x01, 0x00}}));
    EXPECT_EQ(timeouts_of(SIM_FN_WRITE_MSGS), (std::vector<unsigned long>{1000}));
}

}  // namespace
}  // namespace vx::testing
