// The gate shared by VX_RunSafeFunction, VX_RunActuatorKwp71 and
// VX_ClearFaultMemory: simulation first, then a missing channel, then an
// unconfirmed ECU initialisation; clamping of the time values.
#include "commands/command_fixture.h"

namespace vx::testing {
namespace {

using CommandGate = ChannelTest;

// A request that would transmit in each export once the gate lets it through.
constexpr const char* kSafeRequest =
    R"({"type":"actuator","name":"Idle valve","mode":"Verified","startHex":"30 01","stopHex":"30 00","maxRunMs":0})";
constexpr const char* kActuatorRequest =
    R"({"name":"Fan","mode":"kwp71-command-data","commandType":"04","payloadHex":"01 02","maxRunMs":0})";
constexpr const char* kClearRequest = R"({"name":"Clear","clearHex":"14 FF 00"})";

constexpr std::string_view kNotConnected =
    R"({"ok":false,"stage":"not-connected","commandSent":false,"noTx":true,"message":"Connect ECU first. No ISO9141/J2534 channel is open."})";

constexpr std::string_view kProbeMessageEnd =
    R"("message":"BUILD322 backend-forward physical TX/RX path executed for this diagnostic click. For unmapped rows this is a read-only probe, not an invented actuator/coding command.")";

TEST_F(CommandGate, SimulationAnswersBeforeAnyDeviceCheckAndSendsNothing) {
    // No device bound, no channel: simulation still wins.
    VX_SetSimulation(1);
    clear_log_for_tests();
    EXPECT_EQ(call_export(VX_RunSafeFunction, kSafeRequest),
              R"({"ok":true,"stage":"simulation","simulation":true,"commandSent":false,"noTx":true,"type":"actuator","name":"Idle valve","message":"Simulation completed. No vehicle command was transmitted."})");
    EXPECT_TRUE(contains(call_export(VX_RunActuatorKwp71, kActuatorRequest), R"("stage":"kwp71-simulation")"));
    EXPECT_EQ(call_export(VX_ClearFaultMemory, kClearRequest),
              R"({"ok":true,"stage":"simulation","simulation":true,"commandSent":false,"noTx":true,"message":"Simulation mode: fault results window can be cleared, but no ECU fault memory command was transmitted."})");
    EXPECT_EQ(log(), log_entry(" FunctionExecution simulation actuator name=Idle valve mode=verified") +
                         log_entry(" KWP71 actuator simulation name=Fan TX=05 01 04 01 02 03") +
                         log_entry(" ClearFaultMemory simulation - no TX name=Clear"));

    // With a channel open and the initialisation confirmed: still simulated.
    VX_SetSimulation(0);
    connect_channel();
    VX_SetSimulation(1);
    sim.sim_clear_calls();
    EXPECT_TRUE(contains(call_export(VX_RunSafeFunction, kSafeRequest), R"("stage":"simulation")"));
    EXPECT_TRUE(contains(call_export(VX_RunActuatorKwp71, kActuatorRequest), R"("stage":"kwp71-simulation")"));
    EXPECT_TRUE(contains(call_export(VX_ClearFaultMemory, kClearRequest), R"("stage":"simulation")"));
    EXPECT_TRUE(sim.call_names().empty()) << "no PassThru function is called in simulation";
    EXPECT_TRUE(FakeClock::sleeps.empty());
    EXPECT_EQ(core_state().kwp71_block_counter, 1);
}

TEST_F(CommandGate, NoChannelGivesTheSameAnswerInAllThreeAndTheirOwnLogLines) {
    open_device();
    sim.sim_clear_calls();
    clear_log_for_tests();
    EXPECT_EQ(call_export(VX_RunSafeFunction, kSafeRequest), kNotConnected);
    EXPECT_EQ(call_export(VX_RunActuatorKwp71, kActuatorRequest), kNotConnected);
    EXPECT_EQ(call_export(VX_ClearFaultMemory, kClearRequest), kNotConnected);
    EXPECT_EQ(log(), log_entry(" FunctionExecution blocked - no ISO9141 channel name=Idle valve") +
                         log_entry(" KWP71 actuator blocked - no ISO9141 channel name=Fan") +
                         log_entry(" ClearFaultMemory blocked - no ISO9141 channel name=Clear"));
    EXPECT_TRUE(sim.call_names().empty());
    EXPECT_EQ(core_state().kwp71_block_counter, 1);
}

TEST_F(CommandGate, UnconfirmedInitRunsTheReadOnlyProbeAndMarksItsResult) {
    connect_channel(/*confirm_init=*/false);
    struct Case {
        RequestExport fn;
        const char* request;
        std::string_view context;
        std::string_view reason;
        std::string_view log_text;
    };
    const Case cases[] = {
        {VX_RunSafeFunction, kSafeRequest, "actuator:Idle valve",
         "ECU init not confirmed - read-only TX/RX audit probe sent",
         " BUILD322 FunctionExecution fallback physical TX probe because ECU init not confirmed name=Idle valve mode=verified"},
        {VX_RunActuatorKwp71, kActuatorRequest, "kwp71-audit:Fan",
         "kwp71 init not confirmed - read-only TX/RX audit probe sent",
         " BUILD322 KWP71 fallback physical TX probe because ECU init not confirmed name=Fan"},
        {VX_ClearFaultMemory, kClearRequest, "clear-fault-memory-audit:Clear",
         "fault clear blocked; ECU init not confirmed - read-only TX/RX audit probe sent instead",
         " BUILD322 ClearFaultMemory fallback physical TX probe because ECU init not confirmed name=Clear"},
    };
    for (const Case& c : cases) {
        sim.sim_clear_calls();
        clear_log_for_tests();
        const std::string result = call_export(c.fn, c.request);
        SCOPED_TRACE(result);
        EXPECT_EQ(result.rfind(R"({"ok":true,"mode":"real-j2534-backend-forward",)", 0), 0u);
        EXPECT_TRUE(contains(result, R"("readType":"function-fallback","context":")" + std::string(c.context) + "\""));
        // The two members stand right after the probe's own last member.
        EXPECT_TRUE(result.ends_with(std::string(kProbeMessageEnd) + R"(,"ecuInitConfirmed":false,"fallbackReason":")" +
                                     std::string(c.reason) + "\"}"));
        EXPECT_FALSE(contains(result, "readVBattRc"));
        // Only the probe's first frame went out, with the write time-out of
        // the request (absent: the export's default).
        EXPECT_EQ(sim.written_frames(), (std::vector<std::vector<std::uint8_t>>{{0x3E, 0x00}}));
        EXPECT_EQ(sim.calls_of(SIM_FN_IOCTL).size(), 2u) << "only the probe's two buffer clears, no READ_VBATT";
        // The probe's own line comes first, the export's line last.
        const std::string text = log();
        EXPECT_TRUE(contains(text, " BUILD322 backend-forward attempt kind=function-fallback"));
        EXPECT_TRUE(text.ends_with(log_entry(c.log_text))) << text;
    }
    EXPECT_EQ(timeouts_of(SIM_FN_WRITE_MSGS), (std::vector<unsigned long>{1500}))
        << "the clear's default time-out is handed to the probe";
    EXPECT_EQ(core_state().kwp71_block_counter, 1) << "the fallback never moves the block counter";
    EXPECT_TRUE(FakeClock::sleeps.empty());
}

TEST_F(CommandGate, TimeValuesAreClampedBeforeTheDeviceSeesThem) {
    connect_channel();
    struct Case {
        RequestExport fn;
        std::string request;
        unsigned long write_timeout;
        std::vector<std::uint32_t> sleeps;
    };
    const std::string safe = R"({"mode":"verified","startHex":"30 01","stopHex":"30 00")";
    const std::string kwp = R"({"mode":"kwp71","commandType":"04","payloadHex":"01")";
    const std::string clear = R"({"clearHex":"14")";
    const Case cases[] = {
        {VX_RunSafeFunction, safe + R"(,"timeoutMs":10,"maxRunMs":-5})", 50, {}},
        {VX_RunSafeFunction, safe + R"(,"timeoutMs":60000,"maxRunMs":10000})", 3000, {2500}},
        {VX_RunSafeFunction, safe + "}", 1000, {1000}},
        {VX_RunActuatorKwp71, kwp + R"(,"timeoutMs":0,"maxRunMs":-1})", 50, {}},
        {VX_RunActuatorKwp71, kwp + R"(,"timeoutMs":3001,"maxRunMs":2501})", 3000, {2500}},
        {VX_RunActuatorKwp71, kwp + "}", 1000, {1000}},
        {VX_ClearFaultMemory, clear + R"(,"timeoutMs":-100,"maxRunMs":500})", 50, {}},
        {VX_ClearFaultMemory, clear + R"(,"timeoutMs":99999})", 3000, {}},
        {VX_ClearFaultMemory, clear + "}", 1500, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.request);
        sim.sim_clear_calls();
        FakeClock::sleeps.clear();
        const std::string result = call_export(c.fn, c.request.c_str());
        EXPECT_TRUE(contains(result, R"("commandSent":true)")) << result;
        for (const unsigned long timeout : timeouts_of(SIM_FN_WRITE_MSGS)) EXPECT_EQ(timeout, c.write_timeout);
        EXPECT_EQ(FakeClock::sleeps, c.sleeps);
    }
}

TEST_F(CommandGate, NullRequestReadsAsEmpty) {
    connect_channel();
    EXPECT_TRUE(contains(call_export(VX_RunSafeFunction, nullptr), R"("fallbackReason":"no verified startHex"})"));
    EXPECT_TRUE(contains(call_export(VX_RunActuatorKwp71, nullptr), R"("stage":"kwp71-mode-required")"));
    EXPECT_TRUE(contains(call_export(VX_ClearFaultMemory, nullptr), R"("stage":"backend-required")"));
}

}  // namespace
}  // namespace vx::testing
