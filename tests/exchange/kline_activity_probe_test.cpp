// VX_KLineActivityProbe against the simulated device: the four rows, the rule
// that confirms a transmission, what the device saw and what the host reads.
#include <cstdint>
#include <string>
#include <vector>

#include "exchange/probe_test_support.h"

namespace vx::testing {
namespace {

constexpr std::string_view kNote =
    "\"note\":\"Physical pin-7 TX probe. If all attempts return ERR_TIMEOUT with "
    "txMessagesWritten=0 and analyzer sees no activity, the VCI/adapter/power path is not "
    "driving K-line.\"";

std::string probe_object(std::string_view name, long rc, std::string_view rc_name,
                         std::string_view hex, unsigned flags, unsigned written, unsigned rx_count,
                         std::string_view rx) {
    return "{\"name\":\"" + std::string(name) + "\",\"writeRc\":" + std::to_string(rc) +
           ",\"writeRcName\":\"" + std::string(rc_name) + "\",\"txHex\":\"" + std::string(hex) +
           "\",\"txFlags\":" + std::to_string(flags) +
           ",\"txMessagesWritten\":" + std::to_string(written) +
           ",\"rxCount\":" + std::to_string(rx_count) + ",\"rx\":" + std::string(rx) + "}";
}

class KLineActivityProbe : public ProbeTest {
protected:
    static std::string run() { return result_of(VX_KLineActivityProbe); }
};

TEST_F(KLineActivityProbe, AnswersWithoutTheDeviceInSimulationWithoutChannelOrWriter) {
    // Simulation is answered first, even with no channel at all.
    VX_SetSimulation(1);
    clear_log_for_tests();
    EXPECT_EQ(run(),
              "{\"ok\":true,\"simulation\":true,\"noTx\":true,"
              "\"stage\":\"KLineActivityProbe simulation\",\"physicalTxConfirmed\":false,"
              "\"note\":\"Simulation mode active: physical K-line probe skipped and no TX was "
              "sent.\",\"probes\":[],\"rxCount\":0,\"rx\":[]}");
    EXPECT_EQ(log(), stamped(" KLineActivityProbe simulation: no TX"));

    VX_SetSimulation(0);
    clear_log_for_tests();
    EXPECT_EQ(run(),
              "{\"ok\":false,\"stage\":\"not-connected\","
              "\"message\":\"ISO9141 channel is not open.\"}");
    EXPECT_EQ(log(), "");

    connect_channel();
    core_state().entry.write_msgs = nullptr;
    EXPECT_EQ(run(),
              "{\"ok\":false,\"stage\":\"no-writer\","
              "\"message\":\"PassThruWriteMsgs is not available.\"}");
    EXPECT_EQ(log(), "");
    EXPECT_TRUE(sim.calls().empty());
}

TEST_F(KLineActivityProbe, FirstConfirmedRowEndsTheProbe) {
    connect_channel();
    sim.queue_reply({0x55, 0x08}, /*after_writes=*/1);

    const std::string rx = "[" + rx_entry_of("55 08", 2) + "]";
    EXPECT_EQ(run(), "{\"ok\":true,\"stage\":\"KLineActivityProbe\",\"physicalTxConfirmed\":true," +
                         std::string(kNote) + ",\"probes\":[" +
                         probe_object("raw-55-default", 0, "STATUS_NOERROR", "55", 0, 1, 1, rx) +
                         "],\"rxCount\":1,\"rx\":" + rx + "}");
    EXPECT_EQ(log(), stamped(" KLineActivityProbe raw-55-default TX=55 flags=0 wrRc=0 written=1 "
                             "rxCount=1"));
    EXPECT_EQ(device_saw(), (std::vector<std::string>{kClearTx, kClearRx, kWrite, kRead, kRead}));
    const sim_call write = sim.calls_of(SIM_FN_WRITE_MSGS).at(0);
    EXPECT_EQ(write.channel_id, 5u);
    EXPECT_EQ(write.timeout, 1000u);
    EXPECT_EQ(write.msg_tx_flags, 0u);
    EXPECT_EQ(sim.written_frames().at(0), kRaw55Bytes);
    EXPECT_EQ(timeouts_of(SIM_FN_READ_MSGS), (std::vector<unsigned long>{100u, 100u}));

    // A busy line is read for at most four messages per row.
    sim.sim_reset();
    for (std::uint8_t i = 0; i < 6; ++i) sim.queue_reply({i});
    EXPECT_TRUE(has_text(run(), "\"rxCount\":4,\"rx\":[" + rx_entry_of("00", 1) + ","));
    EXPECT_EQ(device_saw(),
              (std::vector<std::string>{kClearTx, kClearRx, kWrite, kRead, kRead, kRead, kRead}));
    EXPECT_EQ(sim.sim_pending_replies(), 2u);
}

TEST_F(KLineActivityProbe, UnconfirmedRowsAreAllSentAfterOneClear) {
    connect_channel();
    // Status 0 but nothing written: no row confirms. A reply arrives after
    // the fourth write and is the one the result shows.
    sim.sim_set_write_reported_count(0);
    sim.queue_reply({0x7F}, /*after_writes=*/4);

    const std::string result = run();

    EXPECT_EQ(device_saw(), (std::vector<std::string>{kClearTx, kClearRx, kWrite, kRead, kWrite,
                                                      kRead, kWrite, kRead, kWrite, kRead, kRead}));
    EXPECT_EQ(sim.written_frames(),
              (Frames{kRaw55Bytes, kRaw55Bytes, kObdMode01Bytes, kObdMode01Bytes}));
    EXPECT_EQ(tx_flags_written(), (std::vector<unsigned long>{0u, 0x200u, 0u, 0x200u}));
    EXPECT_EQ(timeouts_of(SIM_FN_WRITE_MSGS),
              (std::vector<unsigned long>{1000u, 1000u, 1000u, 1000u}));

    const std::string rx = "[" + rx_entry_of("7F", 1) + "]";
    EXPECT_EQ(result,
              "{\"ok\":false,\"stage\":\"KLineActivityProbe\",\"physicalTxConfirmed\":false," +
                  std::string(kNote) + ",\"probes\":[" +
                  probe_object("raw-55-default", 0, "STATUS_NOERROR", "55", 0, 0, 0, "[]") + "," +
                  probe_object("raw-55-no-checksum", 0, "STATUS_NOERROR", "55", 512, 0, 0, "[]") +
                  "," +
                  probe_object("iso9141-obd-header-default", 0, "STATUS_NOERROR", "68 6A F1 01 00",
                               0, 0, 0, "[]") +
                  "," +
                  probe_object("iso9141-obd-header-no-checksum", 0, "STATUS_NOERROR",
                               "68 6A F1 01 00", 512, 0, 1, rx) +
                  "],\"rxCount\":1,\"rx\":" + rx + "}");
    EXPECT_EQ(
        log(),
        stamped(" KLineActivityProbe raw-55-default TX=55 flags=0 wrRc=0 written=0 rxCount=0") +
            stamped(" KLineActivityProbe raw-55-no-checksum TX=55 flags=512 wrRc=0 written=0 "
                    "rxCount=0") +
            stamped(" KLineActivityProbe iso9141-obd-header-default TX=68 6A F1 01 00 flags=0 "
                    "wrRc=0 written=0 rxCount=0") +
            stamped(" KLineActivityProbe iso9141-obd-header-no-checksum TX=68 6A F1 01 00 "
                    "flags=512 wrRc=0 written=0 rxCount=1"));
}

TEST_F(KLineActivityProbe, OnlyACleanStatusWithOneMessageConfirms) {
    connect_channel();
    // Row 1: one message counted but ERR_TIMEOUT. Row 2: two messages
    // counted. Neither confirms; row 3 does.
    sim.sim_queue_write_count(1);
    sim.sim_queue_status(SIM_FN_WRITE_MSGS, kErrTimeout);
    sim.sim_queue_write_count(2);

    const std::string result = run();

    EXPECT_EQ(sim.calls_of(SIM_FN_WRITE_MSGS).size(), 3u);
    EXPECT_TRUE(has_text(result,
                         "{\"ok\":true,\"stage\":\"KLineActivityProbe\","
                         "\"physicalTxConfirmed\":true,"));
    EXPECT_TRUE(has_text(
        result, "\"probes\":[" +
                    probe_object("raw-55-default", 9, "ERR_TIMEOUT", "55", 0, 1, 0, "[]") + "," +
                    probe_object("raw-55-no-checksum", 0, "STATUS_NOERROR", "55", 512, 2, 0, "[]") +
                    "," +
                    probe_object("iso9141-obd-header-default", 0, "STATUS_NOERROR",
                                 "68 6A F1 01 00", 0, 1, 0, "[]") +
                    "],"));
    EXPECT_TRUE(has_text(log(),
                         " KLineActivityProbe raw-55-default TX=55 flags=0 wrRc=9 written=1 "
                         "rxCount=0\r\n"));
}

TEST_F(KLineActivityProbe, ResultShowsTheLastRowsRepliesAndEarlierOnesStayInTheirObjects) {
    connect_channel();
    sim.sim_set_status_nth(SIM_FN_WRITE_MSGS, 1, kErrTimeout);
    sim.sim_set_status_nth(SIM_FN_WRITE_MSGS, 2, kErrTimeout);
    sim.queue_reply({0x01});
    sim.queue_reply({0x02});
    sim.queue_reply({0xC3, 0x03}, /*after_writes=*/1);

    const std::string result = run();

    const std::string early = "[" + rx_entry_of("01", 1) + "," + rx_entry_of("02", 1) + "]";
    const std::string late = "[" + rx_entry_of("C3 03", 2) + "]";
    EXPECT_TRUE(has_text(
        result, "\"probes\":[" +
                    probe_object("raw-55-default", 9, "ERR_TIMEOUT", "55", 0, 0, 2, early) + "," +
                    probe_object("raw-55-no-checksum", 9, "ERR_TIMEOUT", "55", 512, 0, 0, "[]") +
                    "," +
                    probe_object("iso9141-obd-header-default", 0, "STATUS_NOERROR",
                                 "68 6A F1 01 00", 0, 1, 1, late) +
                    "],\"rxCount\":1,\"rx\":" + late + "}"));
    // The queues are cleared once, before row 1 only.
    EXPECT_EQ(sim.calls_of(SIM_FN_IOCTL).size(), 2u);
    EXPECT_EQ(device_saw().at(0), kClearTx);
    EXPECT_EQ(device_saw().at(1), kClearRx);
}

TEST_F(KLineActivityProbe, FollowsTheResultBufferConvention) {
    connect_channel();
    const std::string full = run();
    sim.sim_reset();
    char small[16];
    EXPECT_EQ(VX_KLineActivityProbe(small, static_cast<int>(sizeof small)),
              static_cast<int>(full.size()));
    EXPECT_STREQ(small, "{\"ok\":true,\"sta");
}

}  // namespace
}  // namespace vx::testing
