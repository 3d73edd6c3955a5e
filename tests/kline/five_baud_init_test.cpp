// VX_TryFiveBaudInit against the simulated PassThru device.
#include <cstring>
#include <string>
#include <vector>

#include "support/sim_device.h"

namespace vx::testing {
namespace {

constexpr char kStamp[] = "2024-03-05 09:07:31";

std::string five_baud_init(unsigned int address) {
    char buffer[1024];
    const int length = VX_TryFiveBaudInit(address, buffer, static_cast<int>(sizeof buffer));
    EXPECT_EQ(static_cast<std::size_t>(length), std::strlen(buffer));
    return buffer;
}

class FiveBaudInit : public SimDeviceTest {
protected:
    // An open device with an ISO 9141 channel (id 77), calls and log emptied.
    void connect_quietly() {
        sim.sim_set_channel_id(77);
        open_device();
        char buffer[1024];
        VX_TestIso9141Connect(0, buffer, static_cast<int>(sizeof buffer));
        ASSERT_EQ(core_state().channel_id, 77u) << buffer;
        sim.sim_clear_calls();
        clear_log_for_tests();
    }
    sim_call the_only_call() {
        const std::vector<sim_call> calls = sim.calls();
        EXPECT_EQ(calls.size(), 1u);
        return calls.empty() ? sim_call{} : calls[0];
    }
};

TEST_F(FiveBaudInit, SimulationConfirmsTheEcuWithoutAnyChannel) {
    VX_SetSimulation(1);
    clear_log_for_tests();
    core_state().kwp71_block_counter = 9;

    EXPECT_EQ(five_baud_init(0x33),
              "{\"ok\":true,\"simulation\":true,\"noTx\":true,\"initOk\":true,\"warning\":false,"
              "\"stage\":\"FIVE_BAUD_INIT simulation\","
              "\"message\":\"Simulation 5-baud init OK. No J2534 command was transmitted.\",\"bytes\":[]}");
    EXPECT_TRUE(core_state().ecu_init_confirmed);
    EXPECT_EQ(core_state().kwp71_block_counter, 1);
    EXPECT_EQ(core_state().channel_id, 0u);
    EXPECT_EQ(log(), std::string(kStamp) + " FIVE_BAUD_INIT simulation: no TX\r\n");
    EXPECT_TRUE(sim.calls().empty());
}

TEST_F(FiveBaudInit, WithoutAChannelAnswersNotConnectedEvenWithAnOpenDevice) {
    open_device();
    ASSERT_NE(core_state().device_id, 0u);
    sim.sim_clear_calls();
    clear_log_for_tests();

    EXPECT_EQ(five_baud_init(0x33),
              "{\"ok\":false,\"stage\":\"not-connected\",\"error\":\"Run ISO9141 connect first.\"}");
    EXPECT_EQ(log(), "");
    EXPECT_TRUE(sim.calls().empty());
    EXPECT_FALSE(core_state().ecu_init_confirmed);
}

TEST_F(FiveBaudInit, KeyBytesConfirmTheEcuAndRestartTheBlockCounter) {
    connect_quietly();
    sim.set_five_baud_keys({0x08, 0x08}, 2);
    core_state().kwp71_block_counter = 9;

    EXPECT_EQ(five_baud_init(0x33),
              "{\"ok\":true,\"initOk\":true,\"realInitOk\":true,\"realVci\":true,\"warning\":false,"
              "\"stage\":\"FIVE_BAUD_INIT\",\"rc\":0,\"rcName\":\"STATUS_NOERROR\",\"address\":51,"
              "\"message\":\"FIVE_BAUD_INIT completed.\",\"bytes\":[8,8]}");

    const sim_call call = the_only_call();
    EXPECT_STREQ(call.name, "PassThruIoctl");
    EXPECT_EQ(call.ioctl_id, 4u);
    EXPECT_EQ(call.channel_id, 77u);
    EXPECT_EQ(call.init_input_num_bytes, 1u);
    ASSERT_EQ(call.init_input_count, 1u);
    EXPECT_EQ(call.init_input[0], 0x33);
    EXPECT_EQ(call.init_output_num_bytes_in, 16u) << "room for 16 key bytes is offered";

    EXPECT_TRUE(core_state().ecu_init_confirmed);
    EXPECT_EQ(core_state().kwp71_block_counter, 1);
    EXPECT_EQ(log(), std::string(kStamp) + " FIVE_BAUD_INIT addr=51 rc=0 FIVE_BAUD_INIT completed.\r\n");
}

TEST_F(FiveBaudInit, OnlyTheLowAddressByteIsSentButTheWholeArgumentIsReported) {
    connect_quietly();
    const std::string result = five_baud_init(0x133);
    EXPECT_NE(result.find(",\"address\":307,"), std::string::npos) << result;
    EXPECT_EQ(the_only_call().init_input[0], 0x33);
    EXPECT_EQ(log(), std::string(kStamp) + " FIVE_BAUD_INIT addr=307 rc=0 FIVE_BAUD_INIT completed.\r\n");
}

TEST_F(FiveBaudInit, WarningStatusesKeepOkButWithdrawTheConfirmation) {
    connect_quietly();
    five_baud_init(0x33);
    ASSERT_TRUE(core_state().ecu_init_confirmed);
    core_state().kwp71_block_counter = 9;
    clear_log_for_tests();

    sim.sim_set_ioctl_status(4, 7);
    const std::string hint7 =
        "FIVE_BAUD_INIT returned ERR_FAILED (rc=7). This is common when no ECU is connected, the K-line "
        "adapter has no vehicle power/ground, or the VCI driver cannot complete the ECU handshake.";
    EXPECT_EQ(five_baud_init(0x33),
              "{\"ok\":true,\"initOk\":false,\"realInitOk\":false,\"realVci\":true,\"warning\":true,"
              "\"stage\":\"FIVE_BAUD_INIT\",\"rc\":7,\"rcName\":\"ERR_FAILED\",\"address\":51,"
              "\"message\":\"" + hint7 + "\",\"bytes\":[0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0]}")
        << "a library that fails without touching the output lists its 16 zeroed bytes";
    EXPECT_FALSE(core_state().ecu_init_confirmed);
    EXPECT_EQ(core_state().kwp71_block_counter, 9) << "only a success restarts the counter";
    EXPECT_EQ(log(), std::string(kStamp) + " FIVE_BAUD_INIT addr=51 rc=7 " + hint7 + "\r\n");

    for (long status : {1L, 17L, 26L}) {
        sim.sim_set_ioctl_status(4, status);
        const std::string result = five_baud_init(0x33);
        EXPECT_EQ(result.rfind("{\"ok\":true,\"initOk\":false,\"realInitOk\":false,\"realVci\":true,"
                               "\"warning\":true,",
                               0),
                  0u)
            << result;
    }
    sim.sim_set_ioctl_status(4, 26);
    EXPECT_NE(five_baud_init(0x33).find("\"message\":\"FIVE_BAUD_INIT returned ERR_NOT_UNIQUE (rc=26). This VCI "
                                        "driver does not provide a unique/valid value for this optional "
                                        "request.\""),
              std::string::npos);
}

TEST_F(FiveBaudInit, OtherStatusesFailWithTheGenericHint) {
    connect_quietly();
    sim.sim_set_ioctl_status(4, 9);
    const std::string hint9 =
        "FIVE_BAUD_INIT returned ERR_TIMEOUT (rc=9). The ISO9141 channel may still be usable; verify on a "
        "powered vehicle.";
    EXPECT_EQ(five_baud_init(0x33),
              "{\"ok\":false,\"initOk\":false,\"realInitOk\":false,\"realVci\":true,\"warning\":false,"
              "\"stage\":\"FIVE_BAUD_INIT\",\"rc\":9,\"rcName\":\"ERR_TIMEOUT\",\"address\":51,"
              "\"message\":\"" + hint9 + "\",\"bytes\":[0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0]}");
    EXPECT_EQ(log(), std::string(kStamp) + " FIVE_BAUD_INIT addr=51 rc=9 " + hint9 + "\r\n");
    EXPECT_FALSE(core_state().ecu_init_confirmed);
}

TEST_F(FiveBaudInit, AtMostSixteenKeyBytesAreListedWhateverTheLibraryReports) {
    connect_quietly();
    std::vector<std::uint8_t> keys;
    for (std::uint8_t i = 1; i <= 16; ++i) keys.push_back(i);
    sim.set_five_baud_keys(keys, 40);
    EXPECT_NE(five_baud_init(0x33).find(",\"bytes\":[1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16]}"),
              std::string::npos);

    sim.set_five_baud_keys({}, 0);
    EXPECT_NE(five_baud_init(0x33).find(",\"bytes\":[]}"), std::string::npos);
}

}  // namespace
}  // namespace vx::testing
