// VX_RunSafeFunction on the simulated device.
#include "commands/command_fixture.h"

namespace vx::testing {
namespace {

using SafeFunction = ChannelTest;

constexpr long kErrTimeout = 9;

std::string run(const std::string& request) { return call_export(VX_RunSafeFunction, request.c_str()); }

TEST_F(SafeFunction, VerifiedMappingSendsStartWaitsAndSendsStop) {
    connect_channel();
    sim.queue_reply({0x70, 0x01}, /*after_writes=*/1);  // answers the start frame
    sim.queue_reply({0x70, 0x00}, /*after_writes=*/2);  // answers the stop frame
    const std::string result = run(
        R"({"type":"actuator","name":"Idle \"valve\"","mode":"Verified","startHex":"30 01","stopHex":"30 00","maxRunMs":400,"timeoutMs":700})");

    EXPECT_EQ(result,
              R"({"ok":true,"stage":"verified-command","commandSent":true,"ecuResponseSeen":true,"writeRc":0,"writeRcName":"STATUS_NOERROR","txMessagesWritten":1,"txHex":"30 01","rxCount":2,"rx":[)" +
                  rx_entry("70 01", 2) +
                  R"(],"readVBattRc":0,"readVBattRcName":"STATUS_NOERROR","vbattMilliV":12600,"stopRc":0,"stopRcName":"STATUS_NOERROR","stopMessagesWritten":1,"stopHex":"30 00","stopRx":[)" +
                  rx_entry("70 00", 2) +
                  R"(],"message":"Verified command transmitted. Check ECU response/result and vehicle reaction."})");
    // Voltage, one buffer clear, start, its replies, then the stop frame
    // without a second clear, and its replies.
    EXPECT_EQ(sim.call_names(),
              (std::vector<std::string>{"PassThruIoctl(3)", "PassThruIoctl(7)", "PassThruIoctl(8)",
                                        "PassThruWriteMsgs", "PassThruReadMsgs", "PassThruReadMsgs",
                                        "PassThruWriteMsgs", "PassThruReadMsgs", "PassThruReadMsgs"}));
    EXPECT_EQ(sim.written_frames(), (std::vector<std::vector<std::uint8_t>>{{0x30, 0x01}, {0x30, 0x00}}));
    EXPECT_EQ(timeouts_of(SIM_FN_WRITE_MSGS), (std::vector<unsigned long>{700, 700}));
    EXPECT_EQ(timeouts_of(SIM_FN_READ_MSGS), (std::vector<unsigned long>{250, 250, 250, 250}));
    for (const sim_call& write : sim.calls_of(SIM_FN_WRITE_MSGS)) {
        EXPECT_EQ(write.msg_protocol_id, 3u);
        EXPECT_EQ(write.msg_tx_flags, 0u);
    }
    EXPECT_EQ(FakeClock::sleeps, (std::vector<std::uint32_t>{400}));
    EXPECT_EQ(log(), log_entry(" FunctionExecution verified name=Idle \"valve\" TX=30 01 wrRc=0 rxCount=2"));
}

TEST_F(SafeFunction, StopFrameDecidesOkAndFollowsEvenAFailedStart) {
    connect_channel();

    // A failed start write is still followed by its stop frame.
    sim.sim_set_status_nth(SIM_FN_WRITE_MSGS, 1, kErrTimeout);
    std::string result = run(R"({"mode":"mapped","startHex":"30 01","stopHex":"30 00","maxRunMs":0})");
    EXPECT_TRUE(contains(result, R"({"ok":false,"stage":"verified-command","commandSent":false,"ecuResponseSeen":false,"writeRc":9,"writeRcName":"ERR_TIMEOUT","txMessagesWritten":0,)"))
        << result;
    EXPECT_TRUE(contains(result, R"("stopRc":0,"stopRcName":"STATUS_NOERROR","stopMessagesWritten":1,"stopHex":"30 00","stopRx":[],"message":"Command transmit failed or stop command failed. See Raw Log."})"))
        << result;
    EXPECT_EQ(sim.written_frames(), (std::vector<std::vector<std::uint8_t>>{{0x30, 0x01}, {0x30, 0x00}}));
    EXPECT_TRUE(FakeClock::sleeps.empty()) << "maxRunMs 0: the stop frame follows at once";
    EXPECT_EQ(log(), log_entry(" FunctionExecution verified name= TX=30 01 wrRc=9 rxCount=0"));

    // A failed stop after a sent start: ok false with commandSent true.
    sim.sim_reset();
    sim.sim_set_status_nth(SIM_FN_WRITE_MSGS, 2, kErrTimeout);
    result = run(R"({"mode":"verified","startHex":"30 01","stopHex":"30 00"})");
    EXPECT_TRUE(result.starts_with(R"({"ok":false,"stage":"verified-command","commandSent":true,)")) << result;
    EXPECT_TRUE(contains(result, R"("stopRc":9,"stopRcName":"ERR_TIMEOUT","stopMessagesWritten":0,)")) << result;

    // Status 0 but no message written: not sent.
    sim.sim_reset();
    sim.sim_set_write_reported_count(0);
    result = run(R"({"mode":"verified","startHex":"30 01"})");
    EXPECT_TRUE(result.starts_with(R"({"ok":false,"stage":"verified-command","commandSent":false,"ecuResponseSeen":false,"writeRc":0,"writeRcName":"STATUS_NOERROR","txMessagesWritten":0,)"))
        << result;
    EXPECT_TRUE(result.ends_with(R"("message":"Command transmit failed or stop command failed. See Raw Log."})"));
}

TEST_F(SafeFunction, WithoutStopFrameNoPauseAndNoStopMembers) {
    connect_channel();
    sim.queue_reply({0x70}, 1);
    const std::string result =
        run(R"({"mode":"verified","startHex":"30 01","stopHex":"3","maxRunMs":2500})");
    EXPECT_EQ(result,
              R"({"ok":true,"stage":"verified-command","commandSent":true,"ecuResponseSeen":true,"writeRc":0,"writeRcName":"STATUS_NOERROR","txMessagesWritten":1,"txHex":"30 01","rxCount":1,"rx":[)" +
                  rx_entry("70", 1) +
                  R"(],"readVBattRc":0,"readVBattRcName":"STATUS_NOERROR","vbattMilliV":12600,"message":"Verified command transmitted. Check ECU response/result and vehicle reaction."})");
    EXPECT_TRUE(FakeClock::sleeps.empty());
    EXPECT_EQ(sim.written_frames().size(), 1u);
}

TEST_F(SafeFunction, RepliesOnlyToTheStopFrameStillCountAsAResponse) {
    connect_channel();
    sim.queue_reply({0x7F, 0x30}, 2);
    const std::string result = run(R"({"mode":"verified","startHex":"30 01","stopHex":"30 00","maxRunMs":0})");
    EXPECT_TRUE(contains(result, R"("ecuResponseSeen":true,)")) << result;
    EXPECT_TRUE(contains(result, R"("rxCount":1,"rx":[],)")) << result;
    EXPECT_TRUE(contains(result, R"("stopRx":[)" + rx_entry("7F 30", 2) + "]")) << result;
}

TEST_F(SafeFunction, UnverifiedOrDivertedClicksRunTheProbeWithTheVoltageReport) {
    connect_channel();
    struct Case {
        std::string request;
        std::string_view reason;
        std::string_view log_tail;
    };
    const Case cases[] = {
        {R"({"name":"Row","mode":"verified-preflight","startHex":"30 01"})", "fallback requested",
         "name=Row mode=verified-preflight hasStart=1"},
        {R"({"mode":"Mapped No-TX","startHex":"30 01"})", "fallback requested", "name= mode=mapped no-tx hasStart=1"},
        {R"({"mode":"verified","startHex":"30 01","backendForwardFallbackProbe":"TRUE"})", "fallback requested",
         "name= mode=verified hasStart=1"},
        {R"({"mode":"verified","startHex":"30 01","backendForwardFallbackProbe":"Yes"})", "fallback requested",
         "name= mode=verified hasStart=1"},
        {R"({"mode":"verified","startHex":"30 01","backendForwardFallbackProbe":1})", "fallback requested",
         "name= mode=verified hasStart=1"},
        {R"({"type":"t","mode":"","startHex":"30 01"})", "unverified mode", "name= mode= hasStart=1"},
        {R"({"mode":"verified","startHex":"301"})", "no verified startHex", "name= mode=verified hasStart=0"},
        {R"({"mode":"verified"})", "no verified startHex", "name= mode=verified hasStart=0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.request);
        sim.sim_clear_calls();
        clear_log_for_tests();
        const std::string result = run(c.request);
        EXPECT_TRUE(result.starts_with(R"({"ok":true,"mode":"real-j2534-backend-forward",)")) << result;
        EXPECT_TRUE(result.ends_with(
            R"(command.","readVBattRc":0,"readVBattRcName":"STATUS_NOERROR","vbattMilliV":12600,"fallbackReason":")" +
            std::string(c.reason) + "\"}"))
            << result;
        EXPECT_EQ(sim.call_names().front(), "PassThruIoctl(3)") << "the voltage is captured first";
        EXPECT_EQ(sim.written_frames(), (std::vector<std::vector<std::uint8_t>>{{0x3E, 0x00}}))
            << "only the probe's frame, never the start frame";
        EXPECT_TRUE(log().ends_with(
            log_entry(" BUILD322 FunctionExecution fallback physical TX probe " + std::string(c.log_tail))))
            << log();
    }

    // Flag values that do not ask for the probe.
    for (const char* value : {"on", "y", "2"}) {
        sim.sim_clear_calls();
        const std::string result = run(
            std::string(R"({"mode":"verified","startHex":"30 01","backendForwardFallbackProbe":")") + value + "\"}");
        EXPECT_TRUE(result.starts_with(R"({"ok":true,"stage":"verified-command",)")) << value << result;
    }
}

TEST_F(SafeFunction, SimulationAnswerCarriesTypeAndNameWhateverTheFrames) {
    VX_SetSimulation(1);
    clear_log_for_tests();
    EXPECT_EQ(run(R"({"type":"relay","name":"Pump","mode":"Verified","startHex":"3"})"),
              R"({"ok":true,"stage":"simulation","simulation":true,"commandSent":false,"noTx":true,"type":"relay","name":"Pump","message":"Simulation completed. No vehicle command was transmitted."})");
    EXPECT_EQ(log(), log_entry(" FunctionExecution simulation relay name=Pump mode=verified"));
}

TEST_F(SafeFunction, MissingReadVbattIsReportedAndTheCommandStillRuns) {
    connect_channel();
    // A binding always has PassThruIoctl (it is required), so the entry is
    // taken away here to cover the gate's own guard.
    core_state().entry.ioctl = nullptr;
    const std::string result = run(R"({"mode":"verified","startHex":"30 01"})");
    EXPECT_TRUE(result.starts_with(R"({"ok":true,"stage":"verified-command","commandSent":true,)")) << result;
    EXPECT_TRUE(contains(result, R"("readVBattRc":-1,"readVBattRcName":"ERR_UNKNOWN","vbattMilliV":0,)")) << result;
    EXPECT_EQ(sim.call_names(), (std::vector<std::string>{"PassThruWriteMsgs", "PassThruReadMsgs"}));
}

}  // namespace
}  // namespace vx::testing
