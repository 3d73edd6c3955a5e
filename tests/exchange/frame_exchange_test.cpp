// The frame exchange on a channel of the simulated device: what goes out,
// how replies are collected and rendered, and when the device is not called.
#include <cstdint>
#include <string>
#include <vector>

#include "exchange/frame_exchange.h"
#include "support/sim_device.h"

namespace vx::testing {
namespace {

class FrameExchange : public SimDeviceTest {
protected:
    // An open device with an ISO 9141 channel (id 77), calls emptied.
    void connect_quietly() {
        sim.sim_set_channel_id(77);
        open_device();
        char buffer[1024];
        VX_TestIso9141Connect(0, buffer, static_cast<int>(sizeof buffer));
        ASSERT_EQ(core_state().channel_id, 77u) << buffer;
        sim.sim_clear_calls();
    }
    void queue(const sim_reply& reply) { sim.sim_queue_reply(&reply); }
};

TEST_F(FrameExchange, WriteFrameSendsOneIso9141MessageExactlyAsGiven) {
    connect_quietly();
    const std::uint8_t frame[] = {0x68, 0x6A, 0xF1, 0x01, 0x00};
    std::uint32_t written = 99;

    EXPECT_EQ(WriteFrame(frame, 5, 0x200, 1234, written), 0);
    EXPECT_EQ(written, 1u);
    EXPECT_EQ(WriteFrame(frame, 2, 750, written), 0) << "the form without TxFlags";

    const std::vector<sim_call> writes = sim.calls_of(SIM_FN_WRITE_MSGS);
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(sim.calls().size(), 2u);
    EXPECT_EQ(writes[0].channel_id, 77u);
    EXPECT_EQ(writes[0].num_msgs_in, 1u);
    EXPECT_EQ(writes[0].timeout, 1234u);
    EXPECT_EQ(writes[0].msg_protocol_id, 3u);
    EXPECT_EQ(writes[0].msg_tx_flags, 0x200u);
    EXPECT_EQ(writes[0].msg_data_size, 5u);
    EXPECT_EQ(writes[0].msg_extra_data_index, 5u);
    EXPECT_EQ(sim.written_frames()[0], (std::vector<std::uint8_t>{0x68, 0x6A, 0xF1, 0x01, 0x00}));
    EXPECT_EQ(writes[1].msg_tx_flags, 0u);
    EXPECT_EQ(writes[1].msg_data_size, 2u);
    EXPECT_EQ(writes[1].msg_extra_data_index, 2u);
    EXPECT_EQ(writes[1].timeout, 750u);

    // The device's status and count come back unchanged, whatever they are.
    sim.sim_set_write_reported_count(3);
    EXPECT_EQ(WriteFrame(frame, 1, 0, 100, written), 0);
    EXPECT_EQ(written, 3u);
    sim.sim_queue_status(SIM_FN_WRITE_MSGS, 9);
    EXPECT_EQ(WriteFrame(frame, 1, 0, 100, written), 9);
    EXPECT_EQ(written, 0u);
}

TEST_F(FrameExchange, WriteFrameRefusesWithoutCallingTheDevice) {
    const std::uint8_t frame[] = {0x55};
    std::uint32_t written = 99;
    EXPECT_EQ(WriteFrame(frame, 1, 0, 100, written), kWriteFrameRefused) << "no channel";
    EXPECT_EQ(written, 0u);

    connect_quietly();
    written = 99;
    EXPECT_EQ(WriteFrame(frame, 0, 0, 100, written), -200) << "length 0";
    EXPECT_EQ(written, 0u);
    written = 99;
    EXPECT_EQ(WriteFrame(nullptr, 1, 0, 100, written), -200) << "no data";
    EXPECT_EQ(written, 0u);

    const std::vector<std::uint8_t> tooLong(4129, 0xAA);
    written = 99;
    EXPECT_EQ(WriteFrame(tooLong.data(), 4129, 0, 100, written), -200) << "longer than the data area";
    EXPECT_EQ(written, 0u);
    EXPECT_TRUE(sim.calls().empty());

    // The largest frame the message can hold still goes out whole.
    EXPECT_EQ(WriteFrame(tooLong.data(), 4128, 0, 100, written), 0);
    const std::vector<sim_call> writes = sim.calls_of(SIM_FN_WRITE_MSGS);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].msg_data_size, 4128u);
    EXPECT_EQ(writes[0].msg_extra_data_index, 4128u);

    // After the device is closed the exchange falls silent again.
    VX_CloseJ2534(nullptr, 0);
    sim.sim_clear_calls();
    EXPECT_EQ(WriteFrame(frame, 1, 0, 100, written), -200);
    std::uint32_t count = 99;
    EXPECT_EQ(ReadRxList(8, 250, count), "[]");
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(ClearTxRxBuffers(), kClearBuffersUnavailable);
    EXPECT_TRUE(sim.calls().empty());
}

TEST_F(FrameExchange, ReadRxListRendersEachMessageAndStopsAtTheFirstEmptyRead) {
    connect_quietly();
    sim.queue_reply({0x48, 0x6B, 0x10}, 0, 0, 1000);
    sim.queue_reply({}, 0, 0x02, 2000);  // an indication without data is listed too
    sim_reply flagged{};
    const std::uint8_t bytes[] = {0x0A, 0xFF};
    flagged.data = bytes;
    flagged.size = 2;
    flagged.protocol_id = 3;
    flagged.tx_flags = 0x200;
    flagged.timestamp = 4294967295u;
    queue(flagged);

    std::uint32_t count = 99;
    EXPECT_EQ(ReadRxList(8, 200, count),
              "[{\"protocol\":3,\"rxStatus\":0,\"txFlags\":0,\"timestamp\":1000,\"size\":3,\"hex\":\"48 6B 10\"},"
              "{\"protocol\":3,\"rxStatus\":2,\"txFlags\":0,\"timestamp\":2000,\"size\":0,\"hex\":\"\"},"
              "{\"protocol\":3,\"rxStatus\":0,\"txFlags\":512,\"timestamp\":4294967295,\"size\":2,"
              "\"hex\":\"0A FF\"}]");
    EXPECT_EQ(count, 3u);

    const std::vector<sim_call> reads = sim.calls_of(SIM_FN_READ_MSGS);
    ASSERT_EQ(reads.size(), 4u) << "the fourth read finds nothing and ends the list";
    EXPECT_EQ(sim.calls().size(), 4u);
    for (const sim_call& read : reads) {
        EXPECT_EQ(read.channel_id, 77u);
        EXPECT_EQ(read.num_msgs_in, 1u);
        EXPECT_EQ(read.timeout, 200u);
    }
}

TEST_F(FrameExchange, ReadRxListTakesAtMostMaxMessages) {
    connect_quietly();
    for (int i = 0; i < 3; ++i) sim.queue_reply({0x01});
    std::uint32_t count = 99;

    EXPECT_EQ(ReadRxList(0, 100, count), "[]");
    EXPECT_EQ(count, 0u);
    EXPECT_TRUE(sim.calls().empty());

    const std::string entry = "{\"protocol\":3,\"rxStatus\":0,\"txFlags\":0,\"timestamp\":0,\"size\":1,\"hex\":\"01\"}";
    EXPECT_EQ(ReadRxList(2, 100, count), "[" + entry + "," + entry + "]");
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(sim.calls_of(SIM_FN_READ_MSGS).size(), 2u);
    EXPECT_EQ(sim.sim_pending_replies(), 1u);
}

TEST_F(FrameExchange, ReadRxListEndsOnAnyFailureOrAnEmptySuccess) {
    connect_quietly();
    std::uint32_t count = 99;

    sim.sim_set_read_empty_status(9);  // ERR_TIMEOUT on the first read
    EXPECT_EQ(ReadRxList(8, 100, count), "[]");
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(sim.calls_of(SIM_FN_READ_MSGS).size(), 1u);

    // Status 0 with a count of 0 ends the list as well.
    sim.sim_clear_calls();
    sim.sim_set_read_empty_status(0);
    sim.queue_reply({0x11});
    EXPECT_EQ(ReadRxList(8, 100, count),
              "[{\"protocol\":3,\"rxStatus\":0,\"txFlags\":0,\"timestamp\":0,\"size\":1,\"hex\":\"11\"}]");
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(sim.calls_of(SIM_FN_READ_MSGS).size(), 2u);

    // What came before a failing read stays in the list.
    sim.sim_clear_calls();
    sim.queue_reply({0x22});
    sim.queue_reply({0x33});
    sim.sim_set_status_nth(SIM_FN_READ_MSGS, 5, 8);  // the second read of this collection
    std::string list = ReadRxList(8, 100, count);
    EXPECT_EQ(count, 1u);
    EXPECT_NE(list.find("\"hex\":\"22\""), std::string::npos) << list;
    EXPECT_EQ(list.find("\"hex\":\"33\""), std::string::npos) << list;
}

TEST_F(FrameExchange, ADeviceClaimingSeveralMessagesStillYieldsOneEntryPerRead) {
    connect_quietly();
    sim.sim_set_read_reported_count(5);
    sim.queue_reply({0x11});
    sim.queue_reply({0x22});
    std::uint32_t count = 0;
    EXPECT_EQ(ReadRxList(8, 100, count),
              "[{\"protocol\":3,\"rxStatus\":0,\"txFlags\":0,\"timestamp\":0,\"size\":1,\"hex\":\"11\"},"
              "{\"protocol\":3,\"rxStatus\":0,\"txFlags\":0,\"timestamp\":0,\"size\":1,\"hex\":\"22\"}]");
    EXPECT_EQ(count, 2u);
}

TEST_F(FrameExchange, AReportedDataSizeBeyondTheDataAreaIsShownButNotReadPast) {
    connect_quietly();
    const std::vector<std::uint8_t> full(4128, 0x5A);
    sim_reply oversized{};
    oversized.data = full.data();
    oversized.size = 4128;
    oversized.protocol_id = 3;
    oversized.override_data_size = 1;
    oversized.data_size = 70000;
    queue(oversized);

    std::uint32_t count = 0;
    const std::string list = ReadRxList(1, 100, count);
    EXPECT_EQ(count, 1u);
    const std::string prefix =
        "[{\"protocol\":3,\"rxStatus\":0,\"txFlags\":0,\"timestamp\":0,\"size\":70000,\"hex\":\"";
    ASSERT_EQ(list.rfind(prefix, 0), 0u) << list.substr(0, 120);
    const std::string hex = list.substr(prefix.size(), list.size() - prefix.size() - 3);
    EXPECT_EQ(hex.size(), 4128u * 3 - 1) << "exactly the 4128 bytes of the data area";
    EXPECT_EQ(hex.substr(hex.size() - 5), "5A 5A");
    EXPECT_EQ(list.substr(list.size() - 3), "\"}]");
}

TEST_F(FrameExchange, ClearTxRxBuffersClearsTransmitThenReceiveAndReportsTheFirstFailure) {
    connect_quietly();
    EXPECT_EQ(ClearTxRxBuffers(), 0);
    EXPECT_EQ(sim.call_names(), (std::vector<std::string>{"PassThruIoctl(7)", "PassThruIoctl(8)"}));
    for (const sim_call& call : sim.calls()) {
        EXPECT_EQ(call.channel_id, 77u);
        EXPECT_EQ(call.input_non_null, 0);
        EXPECT_EQ(call.output_non_null, 0);
    }

    sim.sim_queue_ioctl_status(8, 7);
    EXPECT_EQ(ClearTxRxBuffers(), 7) << "the receive status when the transmit clear succeeded";
    sim.sim_queue_ioctl_status(7, 9);
    sim.sim_queue_ioctl_status(8, 7);
    EXPECT_EQ(ClearTxRxBuffers(), 9) << "the transmit status first";
    EXPECT_EQ(sim.calls().size(), 6u) << "both clears are always attempted";
}

TEST(AttemptObject, RendersMembersInOrderWithEscapedTextsAndTheRxListVerbatim) {
    const std::uint8_t frame[] = {0x68, 0x6A, 0xF1, 0x03};
    AttemptReport report;
    report.name = "row \"A\"";
    report.writeRc = -200;
    report.tx = frame;
    report.txFlags = 512;
    report.txMessagesWritten = 0;
    report.rxCount = 1;
    report.rx = "[{\"x\":1}]";
    std::string out = "[";
    AppendAttemptObject(out, report);
    EXPECT_EQ(out,
              "[{\"name\":\"row \\\"A\\\"\",\"writeRc\":-200,\"writeRcName\":\"ERR_UNKNOWN\","
              "\"txHex\":\"68 6A F1 03\",\"txFlags\":512,\"txMessagesWritten\":0,\"rxCount\":1,"
              "\"rx\":[{\"x\":1}]}");

    report.writeRc = 9;
    report.txMessagesWritten = 4294967295u;
    EXPECT_EQ(AttemptObjectText(report),
              "{\"name\":\"row \\\"A\\\"\",\"writeRc\":9,\"writeRcName\":\"ERR_TIMEOUT\","
              "\"txHex\":\"68 6A F1 03\",\"txFlags\":512,\"txMessagesWritten\":4294967295,\"rxCount\":1,"
              "\"rx\":[{\"x\":1}]}");
}

}  // namespace
}  // namespace vx::testing
