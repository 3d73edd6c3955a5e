// VX_TestIso9141Connect against the simulated PassThru device.
#include <cstring>
#include <string>
#include <vector>

#include "support/sim_device.h"

namespace vx::testing {
namespace {

constexpr char kStamp[] = "2024-03-05 09:07:31";

std::string connect(unsigned int baud) {
    char buffer[2048];
    const int length = VX_TestIso9141Connect(baud, buffer, static_cast<int>(sizeof buffer));
    EXPECT_EQ(static_cast<std::size_t>(length), std::strlen(buffer));
    return buffer;
}

std::string five_baud_init(unsigned int address) {
    char buffer[1024];
    VX_TryFiveBaudInit(address, buffer, static_cast<int>(sizeof buffer));
    return buffer;
}

class Iso9141Connect : public SimDeviceTest {
protected:
    // Opens the simulated device and forgets what the open did, so each test
    // sees only the connect's own calls and log lines.
    void open_quietly() {
        open_device();
        ASSERT_NE(core_state().device_id, 0u) << "the simulated device did not open";
        sim.sim_clear_calls();
        clear_log_for_tests();
    }
};

TEST_F(Iso9141Connect, SimulationMarksAChannelOpenWithoutAnyDevice) {
    VX_SetSimulation(1);
    core_state().channel_id = 42;
    core_state().kwp71_block_counter = 9;

    EXPECT_EQ(connect(10400),
              "{\"ok\":true,\"simulation\":true,\"noTx\":true,\"stage\":\"ISO9141 simulation\","
              "\"message\":\"Simulation ISO9141 connect OK. No J2534 command was transmitted.\"}");
    EXPECT_EQ(core_state().channel_id, 1u);
    EXPECT_TRUE(core_state().ecu_init_confirmed);
    EXPECT_EQ(core_state().kwp71_block_counter, 1);
    EXPECT_EQ(log(), std::string(kStamp) + " simulation=ON\r\n" + kStamp + " ISO9141 connect simulation: no TX\r\n");
    EXPECT_TRUE(sim.calls().empty());
}

TEST_F(Iso9141Connect, WithoutAnOpenDeviceAnswersNotOpenAndChangesNothing) {
    core_state().kwp71_block_counter = 9;
    EXPECT_EQ(connect(0), "{\"ok\":false,\"stage\":\"not-open\",\"error\":\"Open a J2534 DLL first.\"}");
    EXPECT_EQ(log(), "");
    EXPECT_EQ(core_state().channel_id, 0u);
    EXPECT_EQ(core_state().kwp71_block_counter, 9);
    EXPECT_TRUE(sim.calls().empty());
}

TEST_F(Iso9141Connect, ConnectsKLineOnlyConfiguresTheChannelAndReadsTheBattery) {
    sim.sim_set_device_id(5);
    sim.sim_set_channel_id(77);
    sim.sim_set_battery_millivolts(12600);
    open_quietly();
    core_state().kwp71_block_counter = 9;

    EXPECT_EQ(connect(0),
              "{\"ok\":true,\"channelId\":77,\"baud\":9600,\"setConfigRc\":0,\"readVBattRc\":0,"
              "\"readVBattRcName\":\"STATUS_NOERROR\",\"vbattMilliV\":12600}");

    EXPECT_EQ(sim.call_names(),
              (std::vector<std::string>{"PassThruConnect", "PassThruIoctl(2)", "PassThruIoctl(3)"}));
    const std::vector<sim_call> calls = sim.calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].device_id, 5u);
    EXPECT_EQ(calls[0].protocol_id, 3u);
    EXPECT_EQ(calls[0].flags, 0x1000u);
    EXPECT_EQ(calls[0].baud_rate, 9600u);

    const sim_call& setConfig = calls[1];
    EXPECT_EQ(setConfig.channel_id, 77u);
    EXPECT_EQ(setConfig.config_num_params, 2u);
    ASSERT_EQ(setConfig.config_count, 2u);
    EXPECT_EQ(setConfig.config_parameter[0], 1u) << "DATA_RATE first";
    EXPECT_EQ(setConfig.config_value[0], 9600u);
    EXPECT_EQ(setConfig.config_parameter[1], 3u) << "LOOPBACK second";
    EXPECT_EQ(setConfig.config_value[1], 0u);
    EXPECT_EQ(setConfig.output_non_null, 0);

    const sim_call& vbatt = calls[2];
    EXPECT_EQ(vbatt.channel_id, 77u) << "READ_VBATT goes to the channel, not the device";
    EXPECT_EQ(vbatt.input_non_null, 0);
    EXPECT_EQ(vbatt.output_non_null, 1);

    EXPECT_EQ(core_state().channel_id, 77u);
    EXPECT_EQ(core_state().kwp71_block_counter, 1);
    EXPECT_FALSE(core_state().ecu_init_confirmed) << "only the 5-baud init confirms the ECU";
    EXPECT_EQ(log(), std::string(kStamp) + " ISO9141 connect OK channelId=77 baud=9600\r\n");
}

TEST_F(Iso9141Connect, ANonZeroBaudRateIsUsedUnchangedEverywhere) {
    open_quietly();
    const std::string result = connect(10400);
    EXPECT_NE(result.find("\"baud\":10400,"), std::string::npos) << result;
    const std::vector<sim_call> calls = sim.calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].baud_rate, 10400u);
    EXPECT_EQ(calls[1].config_value[0], 10400u);
    EXPECT_EQ(log(), std::string(kStamp) + " ISO9141 connect OK channelId=2 baud=10400\r\n");
}

TEST_F(Iso9141Connect, ASecondConnectReleasesTheFirstChannelAndTheEcuConfirmation) {
    sim.sim_set_channel_id(77);
    open_quietly();
    connect(0);
    five_baud_init(0x33);
    ASSERT_TRUE(core_state().ecu_init_confirmed);
    sim.sim_set_channel_id(78);
    sim.sim_set_status(SIM_FN_DISCONNECT, 7);  // ignored
    sim.sim_clear_calls();

    EXPECT_NE(connect(0).find("\"channelId\":78,"), std::string::npos);
    const std::vector<sim_call> calls = sim.calls();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_STREQ(calls[0].name, "PassThruDisconnect");
    EXPECT_EQ(calls[0].channel_id, 77u);
    EXPECT_STREQ(calls[1].name, "PassThruConnect");
    EXPECT_EQ(sim.calls_of(SIM_FN_DISCONNECT).size(), 1u);
    EXPECT_EQ(core_state().channel_id, 78u);
    EXPECT_FALSE(core_state().ecu_init_confirmed);
}

TEST_F(Iso9141Connect, AFailedConnectReportsTheDetailTextAndLeavesNoChannel) {
    sim.sim_set_channel_id(77);
    open_quietly();
    connect(0);
    core_state().kwp71_block_counter = 9;
    sim.sim_set_status(SIM_FN_CONNECT, 8);
    sim.set_last_error("Interface \"K\" unplugged");
    sim.sim_clear_calls();
    clear_log_for_tests();

    EXPECT_EQ(connect(0),
              "{\"ok\":false,\"stage\":\"PassThruConnect ISO9141\",\"rc\":8,"
              "\"rcName\":\"ERR_DEVICE_NOT_CONNECTED\","
              "\"error\":\"ERR_DEVICE_NOT_CONNECTED: Interface \\\"K\\\" unplugged\"}");
    EXPECT_EQ(log(), std::string(kStamp) +
                         " ISO9141 connect failed rc=8 ERR_DEVICE_NOT_CONNECTED: Interface \"K\" unplugged\r\n");
    EXPECT_EQ(sim.call_names(), (std::vector<std::string>{"PassThruDisconnect", "PassThruConnect",
                                                          "PassThruGetLastError"}));
    EXPECT_EQ(core_state().channel_id, 0u) << "the earlier channel was released";
    EXPECT_EQ(core_state().kwp71_block_counter, 9);
}

TEST_F(Iso9141Connect, FailingConfigurationAndBatteryReadStillConnect) {
    open_quietly();
    sim.sim_set_ioctl_status(2, 7);
    sim.sim_set_ioctl_status(3, 1);

    EXPECT_EQ(connect(0),
              "{\"ok\":true,\"channelId\":2,\"baud\":9600,\"setConfigRc\":7,\"readVBattRc\":1,"
              "\"readVBattRcName\":\"ERR_NOT_SUPPORTED\",\"vbattMilliV\":0,"
              "\"readVBattWarning\":\"READ_VBATT returned ERR_NOT_SUPPORTED (rc=1). "
              "This VCI driver may not expose this optional J2534 IOCTL.\"}");
    EXPECT_EQ(log(), std::string(kStamp) +
                         " READ_VBATT warning rc=1 READ_VBATT returned ERR_NOT_SUPPORTED (rc=1). "
                         "This VCI driver may not expose this optional J2534 IOCTL.\r\n" +
                         kStamp + " ISO9141 connect OK channelId=2 baud=9600\r\n");
    EXPECT_EQ(core_state().channel_id, 2u);
}

TEST_F(Iso9141Connect, WithoutAnIoctlEntryPointTheConnectStillSucceedsWithMinusOne) {
    open_quietly();
    // A binding always has PassThruIoctl; the connect must not rely on it.
    core_state().entry.ioctl = nullptr;
    EXPECT_EQ(connect(0),
              "{\"ok\":true,\"channelId\":2,\"baud\":9600,\"setConfigRc\":-1,\"readVBattRc\":-1,"
              "\"readVBattRcName\":\"ERR_UNKNOWN\",\"vbattMilliV\":0,"
              "\"readVBattWarning\":\"READ_VBATT returned ERR_UNKNOWN (rc=-1). "
              "The ISO9141 channel may still be usable; verify on a powered vehicle.\"}");
    EXPECT_EQ(sim.call_names(), (std::vector<std::string>{"PassThruConnect"}));
}

TEST_F(Iso9141Connect, ARealConnectAfterASimulatedOneReleasesThePlaceholderChannel) {
    open_quietly();
    VX_SetSimulation(1);
    connect(0);
    ASSERT_EQ(core_state().channel_id, 1u);
    EXPECT_TRUE(sim.calls().empty());
    VX_SetSimulation(0);

    connect(0);
    const std::vector<sim_call> disconnects = sim.calls_of(SIM_FN_DISCONNECT);
    ASSERT_EQ(disconnects.size(), 1u);
    EXPECT_EQ(disconnects[0].channel_id, 1u);
    EXPECT_EQ(core_state().channel_id, 2u);
    EXPECT_FALSE(core_state().ecu_init_confirmed);
}

}  // namespace
}  // namespace vx::testing
