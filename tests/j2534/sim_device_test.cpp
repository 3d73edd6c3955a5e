// The simulated device's scripting, called directly through its entry points
// as the core calls them, so the other subsystems' tests can rely on it.
#include <cstring>
#include <vector>

#include "support/sim_device.h"

namespace vx::testing {
namespace {

class SimulatedDevice : public ::testing::Test {
protected:
    SimDevice sim;
    PTREADMSGS read = sim.entry<PTREADMSGS>("PassThruReadMsgs");
    PTWRITEMSGS write = sim.entry<PTWRITEMSGS>("PassThruWriteMsgs");
    PTIOCTL ioctl = sim.entry<PTIOCTL>("PassThruIoctl");
    PTOPEN open = sim.entry<PTOPEN>("PassThruOpen");

    long write_frame(const std::vector<unsigned char>& bytes, unsigned long& count) {
        PASSTHRU_MSG msg{};
        msg.ProtocolID = j2534::kProtocolIso9141;
        msg.TxFlags = j2534::kTxFlagNoChecksum;
        msg.DataSize = static_cast<unsigned long>(bytes.size());
        std::memcpy(msg.Data, bytes.data(), bytes.size());
        count = 1;
        return write(2, &msg, &count, 100);
    }
};

TEST_F(SimulatedDevice, RepliesAreReleasedAfterWritesAndReadOneAtATime) {
    sim.queue_reply({0x48, 0x6B}, 1, 0, 1234);
    sim_reply odd{};
    const unsigned char byte = 0x55;
    odd.data = &byte;
    odd.size = 1;
    odd.protocol_id = 3;
    odd.override_data_size = 1;
    odd.data_size = 5000;  // beyond the message's room
    sim.sim_queue_reply(&odd);

    PASSTHRU_MSG msg{};
    unsigned long count = 1;
    // The immediate reply comes first even though it was queued second.
    ASSERT_EQ(read(2, &msg, &count, 50), 0);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(msg.DataSize, 5000u);
    EXPECT_EQ(msg.Data[0], 0x55);
    count = 1;
    EXPECT_EQ(read(2, &msg, &count, 50), 18) << "nothing released before the write";
    EXPECT_EQ(count, 0u);

    sim.sim_set_write_reported_count(5);
    ASSERT_EQ(write_frame({0x68, 0x6A, 0xF1, 0x01, 0x00}, count), 0);
    EXPECT_EQ(count, 5u);
    count = 1;
    ASSERT_EQ(read(2, &msg, &count, 50), 0);
    EXPECT_EQ(msg.DataSize, 2u);
    EXPECT_EQ(msg.Timestamp, 1234u);
    EXPECT_EQ(msg.ProtocolID, 3u);
    EXPECT_EQ(sim.sim_pending_replies(), 0u);

    sim.sim_set_read_empty_status(9);
    sim.sim_set_read_reported_count(7);
    count = 1;
    EXPECT_EQ(read(2, &msg, &count, 50), 9);
    EXPECT_EQ(count, 0u);

    const sim_call written = sim.calls_of(SIM_FN_WRITE_MSGS).at(0);
    EXPECT_EQ(written.msg_tx_flags, j2534::kTxFlagNoChecksum);
    EXPECT_EQ(written.num_msgs_in, 1u);
    EXPECT_EQ(written.num_msgs_out, 5u);
    EXPECT_EQ(written.timeout, 100u);
    EXPECT_EQ(sim.written_frames(), (std::vector<std::vector<std::uint8_t>>{{0x68, 0x6A, 0xF1, 0x01, 0x00}}));
}

TEST_F(SimulatedDevice, StatusesComeFromNthThenQueueThenIoctlThenFunctionSettings) {
    sim.sim_set_status(SIM_FN_IOCTL, 7);
    sim.sim_set_ioctl_status(j2534::kIoctlReadVbatt, 17);
    sim.sim_queue_ioctl_status(j2534::kIoctlReadVbatt, 0);
    sim.sim_set_status_nth(SIM_FN_IOCTL, 3, 9);
    sim.sim_set_battery_millivolts(11800);

    unsigned long millivolts = 0;
    EXPECT_EQ(ioctl(2, j2534::kIoctlReadVbatt, nullptr, &millivolts), 0);
    EXPECT_EQ(millivolts, 11800u);
    EXPECT_EQ(ioctl(2, j2534::kIoctlReadVbatt, nullptr, &millivolts), 17);
    EXPECT_EQ(ioctl(2, j2534::kIoctlReadVbatt, nullptr, &millivolts), 9);
    EXPECT_EQ(ioctl(2, j2534::kIoctlClearRxBuffer, nullptr, nullptr), 7);

    const std::vector<sim_call> calls = sim.calls();
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[0].vbatt_written, 11800u);
    EXPECT_EQ(calls[0].output_non_null, 1);
    EXPECT_EQ(calls[1].vbatt_written, 0u) << "a failing call writes nothing";
    EXPECT_EQ(calls[3].status, 7);
}

TEST_F(SimulatedDevice, IoctlInputsAreRecordedAndFiveBaudKeysReportedAsScripted) {
    SCONFIG pairs[2] = {{j2534::kParamDataRate, 10400}, {j2534::kParamLoopback, 0}};
    SCONFIG_LIST list{2, pairs};
    EXPECT_EQ(ioctl(2, j2534::kIoctlSetConfig, &list, nullptr), 0);

    sim.set_five_baud_keys({0x94, 0x94}, 17);
    unsigned char address = 0x33;
    SBYTE_ARRAY in{1, &address};
    unsigned char keys[16] = {};
    SBYTE_ARRAY out{16, keys};
    EXPECT_EQ(ioctl(2, j2534::kIoctlFiveBaudInit, &in, &out), 0);
    EXPECT_EQ(out.NumOfBytes, 17u);
    EXPECT_EQ(keys[0], 0x94);
    EXPECT_EQ(keys[2], 0x00);

    const std::vector<sim_call> calls = sim.calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].config_count, 2u);
    EXPECT_EQ(calls[0].config_parameter[0], 1u);
    EXPECT_EQ(calls[0].config_value[0], 10400u);
    EXPECT_EQ(calls[0].config_parameter[1], 3u);
    EXPECT_EQ(calls[1].init_input_count, 1u);
    EXPECT_EQ(calls[1].init_input[0], 0x33);
    EXPECT_EQ(calls[1].init_output_num_bytes_in, 16u);
    EXPECT_EQ(calls[1].init_output_num_bytes_out, 17u);
    EXPECT_EQ(sim.call_names(), (std::vector<std::string>{"PassThruIoctl(2)", "PassThruIoctl(4)"}));
}

TEST_F(SimulatedDevice, StrictIdsRejectWhatWasNeverHandedOut) {
    sim.sim_set_strict_ids(1);
    unsigned long millivolts = 0;
    EXPECT_EQ(ioctl(2, j2534::kIoctlReadVbatt, nullptr, &millivolts), 2);
    unsigned long device = 0;
    EXPECT_EQ(open(nullptr, &device), 0);
    EXPECT_EQ(open(nullptr, &device), 16) << "the device is already in use";
    PTCONNECT connect = sim.entry<PTCONNECT>("PassThruConnect");
    unsigned long channel = 0;
    EXPECT_EQ(connect(device + 1, 3, 0x1000, 10400, &channel), 28);
    EXPECT_EQ(connect(device, 3, 0x1000, 10400, &channel), 0);
    EXPECT_EQ(ioctl(channel, j2534::kIoctlReadVbatt, nullptr, &millivolts), 0);
    EXPECT_EQ(ioctl(1, j2534::kIoctlReadVbatt, nullptr, &millivolts), 2) << "the device id is not a channel";
}

}  // namespace
}  // namespace vx::testing
