// Wall-time fidelity: an export takes as long as the device it drives plus
// the pauses it asks for, and not noticeably more. Every device call takes a
// scripted time on the device's virtual clock, the fake clock records the
// core's pauses, and what the call takes in real time is the core's own,
// which must stay far below one device call: the core adds no waits, retries
// or sleeps of its own.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "support/sim_device.h"

namespace vx::testing {
namespace {

// The device's time per call, in ms of its virtual clock.
constexpr std::uint64_t kDelayMs[SIM_FN_COUNT] = {0, 0, 1, 1, 1, 2, 1, 0};
// What an export may add of its own; its work is microseconds, the bound
// leaves room for a sanitizer build on a busy machine.
constexpr auto kOwnTimeLimit = std::chrono::milliseconds(2);

struct Scenario {
    std::string name;
    std::function<int(char*, int)> call;
    std::vector<std::uint32_t> pauses;  // the pauses the export asks for
    std::size_t writes;                 // PassThruWriteMsgs calls it makes
};

class WallTime : public SimDeviceTest {
protected:
    void SetUp() override {
        SimDeviceTest::SetUp();
        char buffer[1024];
        open_device();
        VX_TestIso9141Connect(10400, buffer, sizeof buffer);
        VX_TryFiveBaudInit(0x33, buffer, sizeof buffer);
        ASSERT_TRUE(j2534::device_state().ecu_init_confirmed) << buffer;
        for (int fn = 0; fn < SIM_FN_COUNT; ++fn) sim.sim_set_delay_ms(fn, static_cast<unsigned>(kDelayMs[fn]));
        sim.sim_use_virtual_clock(1);
    }

    // Runs the scenario up to three times and keeps the fastest, so that one
    // preemption of this thread does not fail the test.
    void check(const Scenario& s) {
        SCOPED_TRACE(s.name);
        auto best = std::chrono::steady_clock::duration::max();
        for (int attempt = 0; attempt < 3 && best >= kOwnTimeLimit; ++attempt) {
            for (int i = 0; i < 8; ++i) sim.queue_reply({0x48, 0x6B, 0x10, 0x41, 0x00, 0xBE, 0x1F, 0xB8}, 1);
            sim.sim_clear_calls();
            sim.sim_use_virtual_clock(1);  // restarts it at 0
            FakeClock::sleeps.clear();
            std::vector<char> buffer(32768);
            const auto start = std::chrono::steady_clock::now();
            EXPECT_GT(s.call(buffer.data(), static_cast<int>(buffer.size())), 0);
            best = std::min(best, std::chrono::steady_clock::now() - start);

            std::uint64_t scripted_us = 0;
            for (const sim_call& call : sim.calls()) scripted_us += kDelayMs[call.function] * 1000u;
            EXPECT_EQ(sim.sim_virtual_elapsed_us(), scripted_us) << "every device call took its time";
            EXPECT_EQ(FakeClock::sleeps, s.pauses) << "pauses asked for";
            EXPECT_EQ(sim.calls_of(SIM_FN_WRITE_MSGS).size(), s.writes) << "frames written";
        }
        EXPECT_LT(best, kOwnTimeLimit);
    }
};

constexpr const char* kVerified =
    R"({"type":"actuator","name":"Fan relay","mode":"verified","startHex":"80 10 F1 02 31 01 B5",)"
    R"("stopHex":"80 10 F1 02 32 01 B6","timeoutMs":100,"maxRunMs":20})";
constexpr const char* kUnverified = R"({"type":"actuator","name":"Fan relay","mode":"row-click","startHex":"31"})";
constexpr const char* kActuator =
    R"({"name":"Idle valve","mode":"kwp71-command-data","commandType":"04","payloadHex":"21 05","maxRunMs":30})";
constexpr const char* kClear = R"({"name":"Clear DTC","clearHex":"80 10 F1 01 14 96","stopHex":"80 10 F1 01 3E"})";

std::vector<Scenario> scenarios() {
    return {
        {"battery", VX_ReadBatteryVoltage, {}, 0},
        {"activity probe", VX_KLineActivityProbe, {}, 1},
        {"traffic probe", [](char* b, int n) { return VX_ProtocolTrafficProbe("KWP71", b, n); }, {}, 1},
        {"faults", [](char* b, int n) { return VX_ReadFaults(nullptr, b, n); }, {}, 1},
        {"live data", [](char* b, int n) { return VX_ReadLiveData(nullptr, b, n); }, {}, 1},
        {"verified function", [](char* b, int n) { return VX_RunSafeFunction(kVerified, b, n); }, {20}, 2},
        {"probe fallback", [](char* b, int n) { return VX_RunSafeFunction(kUnverified, b, n); }, {}, 1},
        {"actuator", [](char* b, int n) { return VX_RunActuatorKwp71(kActuator, b, n); }, {30}, 1},
        {"fault clear", [](char* b, int n) { return VX_ClearFaultMemory(kClear, b, n); }, {150}, 2},
        {"five-baud init", [](char* b, int n) { return VX_TryFiveBaudInit(0x33, b, n); }, {}, 0},
        {"connect", [](char* b, int n) { return VX_TestIso9141Connect(10400, b, n); }, {}, 0},
    };
}

TEST_F(WallTime, EveryDeviceExportAddsOnlyTheDevicesTimeAndItsOwnPauses) {
    for (const Scenario& s : scenarios()) check(s);
}

// A device that fails every write: the core reports the failure at once and
// does not try again or wait for the ECU.
TEST_F(WallTime, AFailingDeviceIsNeitherRetriedNorWaitedFor) {
    sim.sim_set_status(SIM_FN_WRITE_MSGS, 9);  // ERR_TIMEOUT
    check({"actuator", [](char* b, int n) { return VX_RunActuatorKwp71(kActuator, b, n); }, {30}, 1});
    check({"verified function", [](char* b, int n) { return VX_RunSafeFunction(kVerified, b, n); }, {20}, 2});
    check({"fault clear", [](char* b, int n) { return VX_ClearFaultMemory(kClear, b, n); }, {}, 1});
}

}  // namespace
}  // namespace vx::testing
