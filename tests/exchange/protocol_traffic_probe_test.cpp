// VX_ProtocolTrafficProbe against the simulated device: which protocol texts
// send the KWP71 keepalive, what the device saw, and the result and log.
#include "exchange/protocol_traffic_probe.h"

#include <cstdint>
#include <string>
#include <vector>

#include "exchange/probe_test_support.h"

namespace vx::testing {
namespace {

const std::vector<std::uint8_t> kKeepaliveBytes{0x03, 0x01, 0x09, 0x03};
constexpr std::string_view kPermissionLine =
    " BUILD322 ProtocolTrafficProbe allowed with ECU init not confirmed because ISO9141 channel "
    "is open for TX/RX audit";

class ProtocolTrafficProbe : public ProbeTest {
protected:
    static std::string run(const char* protocol) {
        return result_of([protocol](char* buffer, int size) {
            return VX_ProtocolTrafficProbe(protocol, buffer, size);
        });
    }
};

TEST_F(ProtocolTrafficProbe, AnswersWithoutTheDeviceInSimulationOrWithoutChannel) {
    VX_SetSimulation(1);
    clear_log_for_tests();
    EXPECT_EQ(run("KWP71"),
              "{\"ok\":true,\"simulation\":true,\"noTx\":true,"
              "\"stage\":\"ProtocolTrafficProbe simulation\",\"probe\":\"simulation listen only\","
              "\"writeRc\":0,\"txHex\":\"\",\"txMessagesWritten\":0,\"rxCount\":0,\"rx\":[]}");
    EXPECT_EQ(log(), stamped(" ProtocolTrafficProbe simulation: no TX"));

    VX_SetSimulation(0);
    clear_log_for_tests();
    EXPECT_EQ(run("KWP71"),
              "{\"ok\":false,\"stage\":\"not-connected\","
              "\"message\":\"ISO9141 channel is not open.\"}");
    EXPECT_EQ(log(), "");
    EXPECT_TRUE(sim.calls().empty());
}

TEST_F(ProtocolTrafficProbe, PassiveListeningWithUnconfirmedInitLogsThePermissionFirst) {
    connect_channel(/*confirm_init=*/false);
    sim.queue_reply({0x80, 0x11});

    EXPECT_EQ(run(nullptr),
              "{\"ok\":true,\"stage\":\"ProtocolTrafficProbe\",\"protocol\":\"\","
              "\"probe\":\"passive listen only\",\"writeRc\":0,\"writeRcName\":\"STATUS_NOERROR\","
              "\"txHex\":\"\",\"txMessagesWritten\":0,\"rxCount\":1,\"rx\":[" +
                  rx_entry_of("80 11", 2) + "]}");
    EXPECT_EQ(log(),
              stamped(kPermissionLine) + stamped(" ProtocolTrafficProbe  TX= wrRc=0 rxCount=1"));
    // Nothing is written: the queues are cleared and the line listened to.
    EXPECT_EQ(device_saw(), (std::vector<std::string>{kClearTx, kClearRx, kRead, kRead}));
    EXPECT_EQ(timeouts_of(SIM_FN_READ_MSGS), (std::vector<unsigned long>{200u, 200u}));
    EXPECT_FALSE(core_state().ecu_init_confirmed);
}

TEST_F(ProtocolTrafficProbe, Kwp71KeepaliveGoesOutAndTheRepliesAreReported) {
    connect_channel(/*confirm_init=*/true);
    const std::uint8_t counter_before = core_state().kwp71_block_counter;
    sim.queue_reply({0x03, 0x02, 0x09, 0x03}, /*after_writes=*/1);

    const std::string result = run("kwp71 over \"K\"-line");

    EXPECT_EQ(result,
              "{\"ok\":true,\"stage\":\"ProtocolTrafficProbe\","
              "\"protocol\":\"kwp71 over \\\"K\\\"-line\",\"probe\":\"KWP71 empty/ACK keepalive\","
              "\"writeRc\":0,\"writeRcName\":\"STATUS_NOERROR\",\"txHex\":\"03 01 09 03\","
              "\"txMessagesWritten\":1,\"rxCount\":1,\"rx\":[" +
                  rx_entry_of("03 02 09 03", 4) + "]}");
    // Confirmed init: no permission line; the text is logged unescaped.
    EXPECT_EQ(log(), stamped(" ProtocolTrafficProbe kwp71 over \"K\"-line TX=03 01 09 03 wrRc=0 "
                             "rxCount=1"));
    EXPECT_EQ(device_saw(), (std::vector<std::string>{kClearTx, kClearRx, kWrite, kRead, kRead}));
    const sim_call write = sim.calls_of(SIM_FN_WRITE_MSGS).at(0);
    EXPECT_EQ(write.channel_id, 5u);
    EXPECT_EQ(write.timeout, 1000u);
    EXPECT_EQ(write.msg_tx_flags, 0u);
    EXPECT_EQ(sim.written_frames().at(0), kKeepaliveBytes);
    EXPECT_EQ(timeouts_of(SIM_FN_READ_MSGS), (std::vector<unsigned long>{200u, 200u}));
    // The keepalive's fixed counter byte leaves the block counter alone.
    EXPECT_EQ(core_state().kwp71_block_counter, counter_before);
}

TEST_F(ProtocolTrafficProbe, RefusedKeepaliveIsNotOkButTheReadStillRuns) {
    connect_channel(/*confirm_init=*/true);
    sim.sim_queue_status(SIM_FN_WRITE_MSGS, kErrTimeout);
    sim.queue_reply({0x0F});
    EXPECT_EQ(
        run("KWP71"),
        "{\"ok\":false,\"stage\":\"ProtocolTrafficProbe\",\"protocol\":\"KWP71\","
        "\"probe\":\"KWP71 empty/ACK keepalive\",\"writeRc\":9,\"writeRcName\":\"ERR_TIMEOUT\","
        "\"txHex\":\"03 01 09 03\",\"txMessagesWritten\":0,\"rxCount\":1,\"rx\":[" +
            rx_entry_of("0F", 1) + "]}");
    EXPECT_EQ(log(), stamped(" ProtocolTrafficProbe KWP71 TX=03 01 09 03 wrRc=9 rxCount=1"));

    // Status 0 with nothing written is no keepalive either.
    sim.sim_set_write_reported_count(0);
    EXPECT_TRUE(has_text(run("KWP71"), "{\"ok\":false,"));

    // With the writer gone but the channel open, the frame exchange refuses.
    core_state().entry.write_msgs = nullptr;
    EXPECT_TRUE(has_text(run("KWP71"),
                         "\"writeRc\":-200,\"writeRcName\":\"ERR_UNKNOWN\","
                         "\"txHex\":\"03 01 09 03\",\"txMessagesWritten\":0,"));
}

TEST_F(ProtocolTrafficProbe, OnlyTextsContainingKwp71InAnyCaseSendTheKeepalive) {
    EXPECT_TRUE(SelectsKwp71("KWP71"));
    EXPECT_TRUE(SelectsKwp71("kwp71"));
    EXPECT_TRUE(SelectsKwp71("audit KwP71-fast"));
    EXPECT_FALSE(SelectsKwp71("KWP7"));
    EXPECT_FALSE(SelectsKwp71("KWP 71"));
    EXPECT_FALSE(SelectsKwp71("ISO9141"));
    EXPECT_FALSE(SelectsKwp71(""));

    connect_channel(/*confirm_init=*/true);
    EXPECT_TRUE(has_text(run("KWP7"), "\"protocol\":\"KWP7\",\"probe\":\"passive listen only\","));
    EXPECT_TRUE(has_text(run("ISO9141"), "\"probe\":\"passive listen only\""));
    EXPECT_TRUE(sim.calls_of(SIM_FN_WRITE_MSGS).empty());
    EXPECT_TRUE(has_text(run("x-kWp71"), "\"probe\":\"KWP71 empty/ACK keepalive\""));
    EXPECT_EQ(sim.calls_of(SIM_FN_WRITE_MSGS).size(), 1u);
}

TEST_F(ProtocolTrafficProbe, ListensForAtMostEightMessages) {
    connect_channel(/*confirm_init=*/true);
    for (std::uint8_t i = 0; i < 10; ++i) sim.queue_reply({i});
    EXPECT_TRUE(has_text(run("ISO9141"), "\"rxCount\":8,\"rx\":[" + rx_entry_of("00", 1) + ","));
    EXPECT_EQ(sim.calls_of(SIM_FN_READ_MSGS).size(), 8u);
    EXPECT_EQ(sim.sim_pending_replies(), 2u);
}

}  // namespace
}  // namespace vx::testing
