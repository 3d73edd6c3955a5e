// VX_RunActuatorKwp71 on the simulated device.
#include "commands/command_fixture.h"

namespace vx::testing {
namespace {

using Kwp71Actuator = ChannelTest;

constexpr long kErrTimeout = 9;

std::string run(const std::string& request) { return call_export(VX_RunActuatorKwp71, request.c_str()); }

TEST_F(Kwp71Actuator, RefusesABadModeOrBlockBeforeEveryOtherCheck) {
    // Simulation on and no channel: the request checks still come first.
    VX_SetSimulation(1);
    clear_log_for_tests();
    EXPECT_EQ(run(R"({"name":"Fan","commandType":"04","payloadHex":"01"})"),
              R"({"ok":false,"stage":"kwp71-mode-required","commandSent":false,"message":"VX_RunActuatorKwp71 requires mode=kwp71-command-data."})");
    EXPECT_EQ(run(R"({"name":"Fan","mode":"KWP2000","commandType":"04","payloadHex":"01"})"),
              R"({"ok":false,"stage":"kwp71-mode-required","commandSent":false,"message":"VX_RunActuatorKwp71 requires mode=kwp71-command-data."})");
    EXPECT_EQ(run(R"({"name":"Fan","mode":"KWP71-Command-Data","commandType":"04","payloadHex":"01","trailer":"3"})"),
              R"({"ok":false,"stage":"kwp71-build-failed","commandSent":false,"message":"trailer must contain at least one byte, normally 03."})");
    EXPECT_EQ(run(R"({"name":"Fan","mode":"kwp71","commandType":"0401"})"),
              R"({"ok":false,"stage":"kwp71-build-failed","commandSent":false,"message":"commandType must be exactly one byte, for example 04."})");
    EXPECT_EQ(log(), log_entry(" KWP71 actuator blocked - invalid mode name=Fan mode=") +
                         log_entry(" KWP71 actuator blocked - invalid mode name=Fan mode=kwp2000") +
                         log_entry(" KWP71 actuator build failed name=Fan error=trailer must contain at least one byte, normally 03.") +
                         log_entry(" KWP71 actuator build failed name=Fan error=commandType must be exactly one byte, for example 04."));
}

TEST_F(Kwp71Actuator, SimulationShowsTheBlockAndLeavesTheCounter) {
    VX_SetSimulation(1);
    core_state().kwp71_block_counter = 9;
    clear_log_for_tests();
    const std::string request = R"({"name":"Fan","mode":"kwp71-command-data","commandType":"04","payloadHex":"01 02"})";
    const std::string expected =
        R"({"ok":true,"stage":"kwp71-simulation","simulation":true,"commandSent":false,"noTx":true,"name":"Fan","sequence":9,"nextSequence":9,"txHex":"05 09 04 01 02 03","message":"KWP71 actuator frame generated in simulation. No vehicle command was transmitted."})";
    EXPECT_EQ(run(request), expected);
    EXPECT_EQ(run(request), expected) << "repeated simulated calls use the same counter";
    EXPECT_EQ(core_state().kwp71_block_counter, 9);
    EXPECT_EQ(log(), log_entry(" KWP71 actuator simulation name=Fan TX=05 09 04 01 02 03") +
                         log_entry(" KWP71 actuator simulation name=Fan TX=05 09 04 01 02 03"));
}

TEST_F(Kwp71Actuator, SentBlockWaitsItsRunTimeReportsAndAdvancesTheCounter) {
    connect_channel();
    sim.queue_reply({0x03, 0x02, 0x09, 0x03}, 1);
    const std::string result = run(
        R"({"name":"Fan","mode":"kwp71-command-data","commandType":"04","payloadHex":"01 02","maxRunMs":300,"timeoutMs":800})");
    EXPECT_EQ(result,
              R"({"ok":true,"stage":"kwp71-actuator-command","commandSent":true,"ecuResponseSeen":true,"sequence":1,"nextSequence":2,"blockLength":5,"writeRc":0,"writeRcName":"STATUS_NOERROR","txMessagesWritten":1,"txHex":"05 01 04 01 02 03","rxCount":1,"rx":[)" +
                  rx_entry("03 02 09 03", 4) +
                  R"(],"readVBattRc":0,"readVBattRcName":"STATUS_NOERROR","vbattMilliV":12600,"message":"KWP71 actuator frame transmitted. Check ECU response/result and vehicle reaction."})");
    EXPECT_EQ(sim.call_names(),
              (std::vector<std::string>{"PassThruIoctl(3)", "PassThruIoctl(7)", "PassThruIoctl(8)",
                                        "PassThruWriteMsgs", "PassThruReadMsgs", "PassThruReadMsgs"}));
    EXPECT_EQ(timeouts_of(SIM_FN_WRITE_MSGS), (std::vector<unsigned long>{800}));
    EXPECT_EQ(timeouts_of(SIM_FN_READ_MSGS), (std::vector<unsigned long>{250, 250}));
    EXPECT_EQ(FakeClock::sleeps, (std::vector<std::uint32_t>{300}));
    EXPECT_EQ(core_state().kwp71_block_counter, 2);
    EXPECT_EQ(log(), log_entry(" KWP71 actuator name=Fan TX=05 01 04 01 02 03 seq=1 wrRc=0 rxCount=1"));

    // The next block without sequence takes the advanced counter.
    FakeClock::sleeps.clear();
    EXPECT_TRUE(contains(run(R"({"mode":"kwp71","commandType":"04","payloadHex":"01","maxRunMs":0})"),
                         R"("sequence":2,"nextSequence":3,"blockLength":4,)"));
    EXPECT_EQ(sim.written_frames().back(), (std::vector<std::uint8_t>{0x04, 0x02, 0x04, 0x01, 0x03}));
    EXPECT_TRUE(FakeClock::sleeps.empty()) << "maxRunMs 0: replies are read right after the write";
}

TEST_F(Kwp71Actuator, CounterFollowsTheSequenceUsedAndWrapsAfter255) {
    connect_channel();
    const std::string base = R"({"mode":"kwp71","commandType":"04","payloadHex":"01","maxRunMs":0)";

    core_state().kwp71_block_counter = 3;
    EXPECT_TRUE(contains(run(base + R"(,"sequence":7})"), R"("sequence":7,"nextSequence":8,)"));
    EXPECT_EQ(sim.written_frames().back()[1], 0x07);

    core_state().kwp71_block_counter = 255;
    EXPECT_TRUE(contains(run(base + "}"), R"("sequence":255,"nextSequence":1,)"));
    EXPECT_EQ(core_state().kwp71_block_counter, 1);
    EXPECT_TRUE(contains(run(base + "}"), R"("sequence":1,"nextSequence":2,)"));
}

TEST_F(Kwp71Actuator, FailedWriteKeepsTheCounterButStillWaitsAndReads) {
    connect_channel();
    core_state().kwp71_block_counter = 5;
    sim.sim_set_status(SIM_FN_WRITE_MSGS, kErrTimeout);
    sim.queue_reply({0x55}, 0);
    const std::string result =
        run(R"({"name":"Fan","mode":"kwp71","commandType":"04","payloadHex":"01","maxRunMs":120})");
    EXPECT_EQ(result,
              R"({"ok":false,"stage":"kwp71-actuator-command","commandSent":false,"ecuResponseSeen":true,"sequence":5,"nextSequence":5,"blockLength":4,"writeRc":9,"writeRcName":"ERR_TIMEOUT","txMessagesWritten":0,"txHex":"04 05 04 01 03","rxCount":1,"rx":[)" +
                  rx_entry("55", 1) +
                  R"(],"readVBattRc":0,"readVBattRcName":"STATUS_NOERROR","vbattMilliV":12600,"message":"KWP71 actuator frame transmit failed. See Raw Log."})");
    EXPECT_EQ(core_state().kwp71_block_counter, 5);
    EXPECT_EQ(FakeClock::sleeps, (std::vector<std::uint32_t>{120}));
    EXPECT_EQ(log(), log_entry(" KWP71 actuator name=Fan TX=04 05 04 01 03 seq=5 wrRc=9 rxCount=1"));
}

TEST_F(Kwp71Actuator, FailedVoltageCaptureIsOnlyReported) {
    connect_channel();
    sim.sim_set_ioctl_status(3, 1);  // READ_VBATT: ERR_NOT_SUPPORTED
    const std::string result = run(R"({"mode":"kwp71","commandType":"04","payloadHex":"01","maxRunMs":0})");
    EXPECT_TRUE(contains(result, R"("commandSent":true,)")) << result;
    EXPECT_TRUE(contains(result, R"("readVBattRc":1,"readVBattRcName":"ERR_NOT_SUPPORTED","vbattMilliV":0,)")) << result;
}

}  // namespace
}  // namespace vx::testing
