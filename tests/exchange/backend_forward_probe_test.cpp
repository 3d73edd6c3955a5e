// The backend-forward probe against the simulated device: which frames go out
// and when the run stops, which reply list the result shows, and what the
// result and the raw log say.
#include "exchange/backend_forward_probe.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "exchange/probe_test_support.h"

namespace vx::testing {
namespace {

constexpr std::string_view kProbeMessage =
    "\"message\":\"BUILD322 backend-forward physical TX/RX path executed for this diagnostic "
    "click. For unmapped rows this is a read-only probe, not an invented actuator/coding "
    "command.\"}";

std::string attempt_object(std::string_view name, long rc, std::string_view rc_name,
                           std::string_view hex, unsigned flags, unsigned written,
                           unsigned rx_count, std::string_view rx) {
    return "{\"name\":\"" + std::string(name) + "\",\"writeRc\":" + std::to_string(rc) +
           ",\"writeRcName\":\"" + std::string(rc_name) + "\",\"txHex\":\"" + std::string(hex) +
           "\",\"txFlags\":" + std::to_string(flags) +
           ",\"txMessagesWritten\":" + std::to_string(written) +
           ",\"rxCount\":" + std::to_string(rx_count) + ",\"rx\":" + std::string(rx) + "}";
}

std::string attempt_line(std::string_view context, std::string_view name, std::string_view hex,
                         unsigned flags, long rc, unsigned written, unsigned rx_count,
                         std::string_view kind = "function-fallback") {
    return stamped(" BUILD322 backend-forward attempt kind=" + std::string(kind) + " context=" +
                   std::string(context) + " name=" + std::string(name) + " TX=" + std::string(hex) +
                   " flags=" + std::to_string(flags) + " wrRc=" + std::to_string(rc) +
                   " written=" + std::to_string(written) + " rxCount=" + std::to_string(rx_count));
}

using BackendForwardProbe = ProbeTest;

TEST_F(BackendForwardProbe, SimulationAndMissingChannelAnswerWithoutTouchingTheDevice) {
    // Simulation wins even over an open channel, and logs one line.
    connect_channel();
    VX_SetSimulation(1);
    clear_log_for_tests();
    EXPECT_EQ(RunFunctionFallbackProbe("kwp71-audit", "Idle", 500),
              "{\"ok\":true,\"simulation\":true,\"commandSent\":false,\"noTx\":true,"
              "\"message\":\"Simulation mode: no real J2534 TX.\"}");
    RunBackendForwardProbe(std::nullopt, std::nullopt, BuildFunctionClickAttempts(500));
    EXPECT_EQ(log(), stamped(" BUILD322 backend-forward function-fallback simulation - no TX") +
                         stamped(" BUILD322 backend-forward probe simulation - no TX"));
    EXPECT_TRUE(sim.calls().empty());

    // Without a writer the probe cannot transmit: not-connected, no log line.
    const std::string not_connected =
        "{\"ok\":false,\"mode\":\"real-j2534-backend-forward\",\"stage\":\"not-connected\","
        "\"commandSent\":false,\"noTx\":true,"
        "\"message\":\"No J2534 channel/writer is open. Connect ECU first.\"}";
    VX_SetSimulation(0);
    clear_log_for_tests();
    const PTWRITEMSGS writer = core_state().entry.write_msgs;
    core_state().entry.write_msgs = nullptr;
    EXPECT_EQ(RunReadProbe("faults", kObdMode03Bytes.data(), 4, 1500), not_connected);
    core_state().entry.write_msgs = writer;
    core_state().channel_id = 0;
    EXPECT_EQ(RunFunctionFallbackProbe("x", "y", 500), not_connected);
    EXPECT_EQ(log(), "");
    EXPECT_TRUE(sim.calls().empty());
}

TEST_F(BackendForwardProbe, DeviceTakingTheFirstFrameEndsTheRunAfterOneAttempt) {
    connect_channel();
    sim.queue_reply({0x48, 0x6B}, /*after_writes=*/1);

    const std::string result = RunFunctionFallbackProbe("kwp71-audit", "Idle \"up\"", 500);

    const std::string rx = "[" + rx_entry_of("48 6B", 2) + "]";
    EXPECT_EQ(result,
              "{\"ok\":true,\"mode\":\"real-j2534-backend-forward\","
              "\"releaseBuild\":\"BUILD322_TXRX_COMPLETE_RELEASE_NO_FAKE\","
              "\"stage\":\"backend-forward-physical-tx\",\"readType\":\"function-fallback\","
              "\"context\":\"kwp71-audit:Idle \\\"up\\\"\",\"commandSent\":true,\"noTx\":false,"
              "\"physicalTxAttempted\":true,\"ecuResponseSeen\":true,\"writeRc\":0,"
              "\"writeRcName\":\"STATUS_NOERROR\",\"txMessagesWritten\":1,\"txHex\":\"3E 00\","
              "\"rxCount\":1,\"rx\":" +
                  rx + ",\"attempts\":[" +
                  attempt_object("function-click-tester-present", 0, "STATUS_NOERROR", "3E 00", 0,
                                 1, 1, rx) +
                  "]," + std::string(kProbeMessage));
    // The log shows the context as it is, unescaped.
    EXPECT_EQ(log(), attempt_line("kwp71-audit:Idle \"up\"", "function-click-tester-present",
                                  "3E 00", 0, 0, 1, 1));

    // Queues cleared first, then the frame with the caller's time-out, then
    // reads of 250 ms until one brings nothing.
    EXPECT_EQ(device_saw(), (std::vector<std::string>{kClearTx, kClearRx, kWrite, kRead, kRead}));
    const sim_call write = sim.calls_of(SIM_FN_WRITE_MSGS).at(0);
    EXPECT_EQ(write.channel_id, 5u);
    EXPECT_EQ(write.timeout, 500u);
    EXPECT_EQ(write.msg_tx_flags, 0u);
    EXPECT_EQ(sim.written_frames().at(0), kTesterPresentBytes);
    EXPECT_EQ(timeouts_of(SIM_FN_READ_MSGS), (std::vector<unsigned long>{250u, 250u}));
    for (const sim_call& ioctl : sim.calls_of(SIM_FN_IOCTL)) {
        EXPECT_EQ(ioctl.channel_id, 5u);
        EXPECT_EQ(ioctl.input_non_null, 0);
        EXPECT_EQ(ioctl.output_non_null, 0);
    }
}

TEST_F(BackendForwardProbe, RefusedFramesAreRecordedAndTheNextIsTriedUntilOneIsTaken) {
    connect_channel();
    sim.sim_set_status_nth(SIM_FN_WRITE_MSGS, 1, kErrTimeout);
    sim.sim_set_status_nth(SIM_FN_WRITE_MSGS, 2, kErrTimeout);

    const std::string result = RunFunctionFallbackProbe(std::nullopt, "Fan", 700);

    // Every attempt clears the queues before its frame; the fourth is never sent.
    EXPECT_EQ(device_saw(), (std::vector<std::string>{kClearTx, kClearRx, kWrite, kRead,  //
                                                      kClearTx, kClearRx, kWrite, kRead,  //
                                                      kClearTx, kClearRx, kWrite, kRead}));
    EXPECT_EQ(sim.written_frames(),
              (Frames{kTesterPresentBytes, kObdMode01Bytes, kObdMode01Bytes}));
    EXPECT_EQ(tx_flags_written(), (std::vector<unsigned long>{0u, 0u, 0x200u}));
    EXPECT_EQ(timeouts_of(SIM_FN_WRITE_MSGS), (std::vector<unsigned long>{700u, 700u, 700u}));

    // The reported write is the third, the accepted one.
    EXPECT_TRUE(has_text(result, "{\"ok\":true,"));
    EXPECT_TRUE(has_text(result,
                         "\"readType\":\"function-fallback\",\"context\":\"function:Fan\","
                         "\"commandSent\":true,\"noTx\":false,\"physicalTxAttempted\":true,"
                         "\"ecuResponseSeen\":false,\"writeRc\":0,"
                         "\"writeRcName\":\"STATUS_NOERROR\",\"txMessagesWritten\":1,"
                         "\"txHex\":\"68 6A F1 01 00\",\"rxCount\":0,\"rx\":[],"));
    EXPECT_TRUE(
        has_text(result, "\"attempts\":[" +
                             attempt_object("function-click-tester-present", 9, "ERR_TIMEOUT",
                                            "3E 00", 0, 0, 0, "[]") +
                             "," +
                             attempt_object("function-click-obd-mode01", 9, "ERR_TIMEOUT",
                                            "68 6A F1 01 00", 0, 0, 0, "[]") +
                             "," +
                             attempt_object("function-click-obd-mode01-no-checksum", 0,
                                            "STATUS_NOERROR", "68 6A F1 01 00", 512, 1, 0, "[]") +
                             "]," + std::string(kProbeMessage)));
    EXPECT_EQ(log(),
              attempt_line("function:Fan", "function-click-tester-present", "3E 00", 0, 9, 0, 0) +
                  attempt_line("function:Fan", "function-click-obd-mode01", "68 6A F1 01 00", 0, 9,
                               0, 0) +
                  attempt_line("function:Fan", "function-click-obd-mode01-no-checksum",
                               "68 6A F1 01 00", 512, 0, 1, 0));
}

TEST_F(BackendForwardProbe, AcceptanceIsAnyWrittenMessageWhateverTheStatus) {
    connect_channel();

    // Status 0 with nothing written is not acceptance: all four are tried.
    sim.sim_set_write_reported_count(0);
    std::string result = RunFunctionFallbackProbe("", std::nullopt, 300);
    EXPECT_EQ(sim.calls_of(SIM_FN_WRITE_MSGS).size(), 4u);
    EXPECT_EQ(sim.written_frames(),
              (Frames{kTesterPresentBytes, kObdMode01Bytes, kObdMode01Bytes, kRaw55Bytes}));
    EXPECT_EQ(tx_flags_written(), (std::vector<unsigned long>{0u, 0u, 0x200u, 0x200u}));
    // Nothing accepted: -999, and the first frame stands for the run.
    EXPECT_TRUE(has_text(result, "{\"ok\":false,"));
    EXPECT_TRUE(has_text(result,
                         "\"context\":\":\",\"commandSent\":false,\"noTx\":true,"
                         "\"physicalTxAttempted\":true,\"ecuResponseSeen\":false,"
                         "\"writeRc\":-999,\"writeRcName\":\"ERR_UNKNOWN\","
                         "\"txMessagesWritten\":0,\"txHex\":\"3E 00\",\"rxCount\":0,"
                         "\"rx\":[],"));
    EXPECT_TRUE(has_text(result, attempt_object("function-click-raw-55-no-checksum", 0,
                                                "STATUS_NOERROR", "55", 512, 0, 0, "[]") +
                                     "]"));
    EXPECT_TRUE(has_text(log(),
                         " context=: name=function-click-raw-55-no-checksum TX=55 flags=512 "
                         "wrRc=0 written=0 rxCount=0\r\n"));

    // A message counted as written counts, even when an error comes with it.
    sim.sim_reset();
    sim.sim_queue_write_count(1);
    sim.sim_queue_status(SIM_FN_WRITE_MSGS, kErrTimeout);
    result = RunFunctionFallbackProbe("clear-fault-memory-audit", "DTC", 300);
    EXPECT_EQ(sim.calls_of(SIM_FN_WRITE_MSGS).size(), 1u);
    EXPECT_TRUE(has_text(result, "{\"ok\":true,"));
    EXPECT_TRUE(has_text(result,
                         "\"commandSent\":true,\"noTx\":false,\"physicalTxAttempted\":true,"
                         "\"ecuResponseSeen\":false,\"writeRc\":9,"
                         "\"writeRcName\":\"ERR_TIMEOUT\",\"txMessagesWritten\":1,"
                         "\"txHex\":\"3E 00\","));
}

TEST_F(BackendForwardProbe, ReportedRxIsTheAcceptedAttemptsListOrElseTheFirstThatHeardAnything) {
    connect_channel();
    const std::string first = rx_entry_of("01", 1);
    const std::string second = rx_entry_of("02 02", 2);

    // Two messages after a refused first frame, none after the accepted
    // second: the replies count, but the result shows the accepted list.
    sim.sim_set_status_nth(SIM_FN_WRITE_MSGS, 1, kErrTimeout);
    sim.queue_reply({0x01});
    sim.queue_reply({0x02, 0x02});
    std::string result = RunFunctionFallbackProbe("kwp71-audit", "A", 300);
    EXPECT_TRUE(has_text(result,
                         "\"ecuResponseSeen\":true,\"writeRc\":0,"
                         "\"writeRcName\":\"STATUS_NOERROR\",\"txMessagesWritten\":1,"
                         "\"txHex\":\"68 6A F1 01 00\",\"rxCount\":2,\"rx\":[],"));
    EXPECT_TRUE(
        has_text(result, attempt_object("function-click-tester-present", 9, "ERR_TIMEOUT", "3E 00",
                                        0, 0, 2, "[" + first + "," + second + "]")));

    // Nothing accepted: the first list with anything in it is shown, and the
    // total counts every attempt's messages.
    sim.sim_reset();
    sim.sim_set_status(SIM_FN_WRITE_MSGS, kErrTimeout);
    sim.queue_reply({0x01});
    sim.queue_reply({0x02, 0x02});
    sim.sim_set_status_nth(SIM_FN_READ_MSGS, 1, 18);  // attempt 1 hears nothing
    sim.sim_set_status_nth(SIM_FN_READ_MSGS, 3, 18);  // attempt 2 hears one message
    result = RunFunctionFallbackProbe("kwp71-audit", "B", 300);
    EXPECT_TRUE(has_text(result,
                         "\"ecuResponseSeen\":true,\"writeRc\":-999,"
                         "\"writeRcName\":\"ERR_UNKNOWN\",\"txMessagesWritten\":0,"
                         "\"txHex\":\"3E 00\",\"rxCount\":2,\"rx\":[" +
                             first + "],"));
    EXPECT_TRUE(has_text(log(),
                         "name=function-click-obd-mode01-no-checksum TX=68 6A F1 01 00 "
                         "flags=512 wrRc=9 written=0 rxCount=1\r\n"));

    // An accepted attempt that heard something wins over an earlier reply.
    sim.sim_reset();
    sim.sim_set_status_nth(SIM_FN_WRITE_MSGS, 1, kErrTimeout);
    sim.queue_reply({0x01});
    sim.queue_reply({0x02, 0x02}, /*after_writes=*/1);
    result = RunFunctionFallbackProbe("kwp71-audit", "C", 300);
    EXPECT_TRUE(has_text(result,
                         "\"ecuResponseSeen\":true,\"writeRc\":0,"
                         "\"writeRcName\":\"STATUS_NOERROR\",\"txMessagesWritten\":1,"
                         "\"txHex\":\"68 6A F1 01 00\",\"rxCount\":2,\"rx\":[" +
                             second + "],"));
}

TEST_F(BackendForwardProbe, ReadProbeSendsTheRequestedFrameInPlaceOfItsCatalogueTwin) {
    connect_channel();
    sim.sim_set_status(SIM_FN_WRITE_MSGS, kErrTimeout);

    // Fault read: 68 6A F1 03 replaces "obd-mode03-header".
    std::string result = RunReadProbe("faults", kObdMode03Bytes.data(), 4, 1500);
    EXPECT_EQ(sim.written_frames(), (Frames{kObdMode03Bytes, kObdMode01Bytes, kObdMode01Bytes,
                                            kTesterPresentBytes, kRaw55Bytes}));
    EXPECT_EQ(tx_flags_written(), (std::vector<unsigned long>{0u, 0u, 0x200u, 0u, 0x200u}));
    EXPECT_EQ(timeouts_of(SIM_FN_WRITE_MSGS),
              (std::vector<unsigned long>{1500u, 1500u, 1500u, 1500u, 1500u}));
    EXPECT_TRUE(has_text(result, "\"readType\":\"faults\",\"context\":\"read/probe\","));
    EXPECT_TRUE(has_text(result,
                         "\"txHex\":\"68 6A F1 03\",\"rxCount\":0,\"rx\":[],\"attempts\":[{"
                         "\"name\":\"requested-frame\","));
    EXPECT_EQ(log(),
              attempt_line("read/probe", "requested-frame", "68 6A F1 03", 0, 9, 0, 0, "faults") +
                  attempt_line("read/probe", "obd-mode01-header", "68 6A F1 01 00", 0, 9, 0, 0,
                               "faults") +
                  attempt_line("read/probe", "obd-mode01-header-no-checksum", "68 6A F1 01 00", 512,
                               9, 0, 0, "faults") +
                  attempt_line("read/probe", "kwp-tester-present", "3E 00", 0, 9, 0, 0, "faults") +
                  attempt_line("read/probe", "raw-55-no-checksum", "55", 512, 9, 0, 0, "faults"));

    // Live-data read: 68 6A F1 01 00 replaces "obd-mode01-header".
    sim.sim_clear_calls();
    clear_log_for_tests();
    result = RunReadProbe("parameters", kObdMode01Bytes.data(), 5, 1000);
    EXPECT_EQ(sim.written_frames(), (Frames{kObdMode01Bytes, kObdMode01Bytes, kObdMode03Bytes,
                                            kTesterPresentBytes, kRaw55Bytes}));
    EXPECT_EQ(tx_flags_written(), (std::vector<unsigned long>{0u, 0x200u, 0u, 0u, 0x200u}));
    EXPECT_TRUE(has_text(
        log(),
        "kind=parameters context=read/probe name=requested-frame TX=68 6A F1 01 00 flags=0"));
    EXPECT_FALSE(has_text(log(), "name=obd-mode01-header "));

    // No requested frame: the five catalogue frames.
    sim.sim_clear_calls();
    RunReadProbe("faults", nullptr, 0, 1500);
    EXPECT_EQ(sim.written_frames(), (Frames{kObdMode01Bytes, kObdMode01Bytes, kObdMode03Bytes,
                                            kTesterPresentBytes, kRaw55Bytes}));
}

TEST_F(BackendForwardProbe, RunsWithoutClearingWhenTheDeviceHasNoIoctlAndReportsAnEmptyList) {
    connect_channel();
    core_state().entry.ioctl = nullptr;
    RunFunctionFallbackProbe("t", "n", 300);
    EXPECT_EQ(device_saw(), (std::vector<std::string>{kWrite, kRead}));

    // An empty attempt list sends nothing and says so.
    sim.sim_clear_calls();
    clear_log_for_tests();
    const std::string result = RunBackendForwardProbe("probe", "", ProbeAttemptList{});
    EXPECT_TRUE(has_text(result, "{\"ok\":false,"));
    EXPECT_TRUE(has_text(result,
                         "\"writeRc\":-999,\"writeRcName\":\"ERR_UNKNOWN\","
                         "\"txMessagesWritten\":0,\"txHex\":\"\",\"rxCount\":0,\"rx\":[],"
                         "\"attempts\":[],"));
    EXPECT_TRUE(sim.calls().empty());
    EXPECT_EQ(log(), "");
}

}  // namespace
}  // namespace vx::testing
