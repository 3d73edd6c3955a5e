// VX_ClearFaultMemory on the simulated device.
#include "commands/command_fixture.h"

namespace vx::testing {
namespace {

using FaultMemoryClear = ChannelTest;

constexpr long kErrTimeout = 9;

std::string run(const std::string& request) { return call_export(VX_ClearFaultMemory, request.c_str()); }

TEST_F(FaultMemoryClear, WithoutAMappedCommandNothingIsSent) {
    connect_channel();
    const std::string backend_required =
        R"({"ok":true,"stage":"backend-required","commandSent":false,"noTx":true,"message":"No verified ECU-specific fault-memory clear command is mapped for this ECU. Window cleared only; use Ryx vehicle communication capture before enabling real ECU clear TX."})";
    EXPECT_EQ(run(R"({"name":"Clear"})"), backend_required);
    // KWP71 mode without payloadHex does not take the block path.
    EXPECT_EQ(run(R"({"mode":"kwp71","commandType":"14"})"), backend_required);
    EXPECT_EQ(run(R"({"clearHex":"14F","stopHex":"00"})"),
              R"({"ok":false,"stage":"clear-command-invalid","commandSent":false,"message":"Mapped fault-memory clear command is invalid. No command was sent."})");
    EXPECT_EQ(run(R"({"mode":"KWP71","commandType":"05","payloadHex":"01","trailer":"0","clearHex":"14 FF 00"})"),
              R"({"ok":false,"stage":"kwp71-build-failed","commandSent":false,"message":"trailer must contain at least one byte, normally 03."})");
    EXPECT_TRUE(sim.call_names().empty()) << "refusals come before the voltage capture";
    EXPECT_EQ(log(), log_entry(" ClearFaultMemory no verified command mapped - no TX") +
                         log_entry(" ClearFaultMemory no verified command mapped - no TX") +
                         log_entry(" ClearFaultMemory invalid clearHex=14F") +
                         log_entry(" ClearFaultMemory KWP71 build failed error=trailer must contain at least one byte, normally 03."));
}

TEST_F(FaultMemoryClear, SentClearIsFollowedByItsStopFrameAfter150Ms) {
    connect_channel();
    sim.queue_reply({0x54}, 1);     // answers the clear frame
    sim.queue_reply({0x7F}, 2);     // would answer the stop frame; not collected
    const std::string result = run(R"({"name":"Clear","clearHex":"14 FF 00","stopHex":"82","timeoutMs":900})");
    EXPECT_EQ(result,
              R"({"ok":true,"stage":"clear-fault-memory","commandSent":true,"ecuResponseSeen":true,"writeRc":0,"writeRcName":"STATUS_NOERROR","txMessagesWritten":1,"txHex":"14 FF 00","rxCount":1,"rx":[)" +
                  rx_entry("54", 1) +
                  R"(],"stopRc":0,"stopMessagesWritten":1,"readVBattRc":0,"readVBattRcName":"STATUS_NOERROR","vbattMilliV":12600,"message":"ECU fault-memory clear command transmitted. Read faults again to confirm memory is empty."})");
    EXPECT_EQ(sim.call_names(),
              (std::vector<std::string>{"PassThruIoctl(3)", "PassThruIoctl(7)", "PassThruIoctl(8)",
                                        "PassThruWriteMsgs", "PassThruReadMsgs", "PassThruReadMsgs",
                                        "PassThruWriteMsgs"}));
    EXPECT_EQ(sim.written_frames(), (std::vector<std::vector<std::uint8_t>>{{0x14, 0xFF, 0x00}, {0x82}}));
    EXPECT_EQ(timeouts_of(SIM_FN_WRITE_MSGS), (std::vector<unsigned long>{900, 900}));
    EXPECT_EQ(timeouts_of(SIM_FN_READ_MSGS), (std::vector<unsigned long>{350, 350}));
    EXPECT_EQ(FakeClock::sleeps, (std::vector<std::uint32_t>{150}));
    EXPECT_EQ(log(), log_entry(" ClearFaultMemory TX=14 FF 00 wrRc=0 written=1 rxCount=1"));
}

TEST_F(FaultMemoryClear, StopFrameOnlyAfterASentClearAndAParsableStopHex) {
    connect_channel();
    // startHex stands in for an empty clearHex; an unparsable stopHex is skipped.
    std::string result = run(R"({"clearHex":"","startHex":"14 00","stopHex":"8"})");
    EXPECT_TRUE(contains(result, R"("txHex":"14 00","rxCount":0,"rx":[],"stopRc":0,"stopMessagesWritten":0,)")) << result;
    EXPECT_EQ(sim.written_frames().size(), 1u);
    EXPECT_TRUE(FakeClock::sleeps.empty());

    // A failed clear: ok false, no stop frame.
    sim.sim_reset();
    sim.sim_set_status(SIM_FN_WRITE_MSGS, kErrTimeout);
    clear_log_for_tests();
    result = run(R"({"clearHex":"14","stopHex":"82"})");
    EXPECT_EQ(result,
              R"({"ok":false,"stage":"clear-fault-memory","commandSent":false,"ecuResponseSeen":false,"writeRc":9,"writeRcName":"ERR_TIMEOUT","txMessagesWritten":0,"txHex":"14","rxCount":0,"rx":[],"stopRc":0,"stopMessagesWritten":0,"readVBattRc":0,"readVBattRcName":"STATUS_NOERROR","vbattMilliV":12600,"message":"ECU fault-memory clear command failed. See Raw Log."})");
    EXPECT_EQ(sim.written_frames().size(), 1u);
    EXPECT_TRUE(FakeClock::sleeps.empty());
    EXPECT_EQ(log(), log_entry(" ClearFaultMemory TX=14 wrRc=9 written=0 rxCount=0"));

    // A failed stop frame is reported but does not decide ok.
    sim.sim_reset();
    sim.sim_set_status_nth(SIM_FN_WRITE_MSGS, 2, kErrTimeout);
    result = run(R"({"clearHex":"14","stopHex":"82"})");
    EXPECT_TRUE(result.starts_with(R"({"ok":true,"stage":"clear-fault-memory","commandSent":true,)")) << result;
    EXPECT_TRUE(contains(result, R"("stopRc":9,"stopMessagesWritten":0,)")) << result;
}

TEST_F(FaultMemoryClear, Kwp71ClearBlockUsesTheCounterWithoutAdvancingIt) {
    connect_channel();
    core_state().kwp71_block_counter = 6;
    const std::string request =
        R"({"mode":"kwp71-command-data","commandType":"05","payloadHex":"00","clearHex":"14 FF 00"})";
    EXPECT_TRUE(contains(run(request), R"("commandSent":true,)"));
    EXPECT_TRUE(contains(run(request), R"("txHex":"04 06 05 00 03",)"));
    EXPECT_EQ(sim.written_frames(),
              (std::vector<std::vector<std::uint8_t>>{{0x04, 0x06, 0x05, 0x00, 0x03}, {0x04, 0x06, 0x05, 0x00, 0x03}}))
        << "clearHex is not looked at on the KWP71 path";
    EXPECT_EQ(core_state().kwp71_block_counter, 6);

    EXPECT_TRUE(contains(run(R"({"mode":"kwp71","commandType":"05","payloadHex":"00","sequence":200})"),
                         R"("txHex":"04 C8 05 00 03",)"));
}

}  // namespace
}  // namespace vx::testing
