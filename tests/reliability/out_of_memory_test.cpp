// Exhausted memory in every export: for each step of a host's session, the
// Nth allocation of the call fails, for N = 1, 2, ... until the call no
// longer reaches a failing allocation. Whatever allocation fails, the export
// returns (an exception crossing the C boundary would end this program),
// answers either exactly what it answers with memory to spare or exactly the
// documented out-of-memory text, and leaves the raw log made of whole lines:
// the lines it appended before running out, never part of one. And a function
// whose start frame went out always gets its stop frame.
#include <algorithm>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>

#include "core/export_guard.h"
#include "reliability/host_session.h"
#include "support/failing_allocation.h"
#include "support/scoped_home.h"
#include "support/sim_device.h"

namespace vx::testing {
namespace {

constexpr int kBufferSize = 1 << 20;

class ExhaustedMemory : public SimDeviceTest {
protected:
    // A freshly loaded core and a reset, scripted device, with the session
    // played up to (not including) the step under test.
    void prepare(const std::vector<ExportStep>& steps, std::size_t step) {
        restart();
        FakeClock::sleeps.reserve(64);  // the fake sleep must not allocate where allocation fails
        // Replies for the probes and commands to read.
        for (int i = 0; i < 12; ++i) sim.queue_reply({0x48, 0x6B, 0x10, static_cast<std::uint8_t>(i)});
        for (std::size_t i = 0; i < step; ++i) steps[i].call(buffer_.get(), kBufferSize);
        // Replies to the step's own first frame, so that collecting them
        // allocates right after a command's frame went out.
        for (int i = 0; i < 3; ++i) sim.queue_reply({0x48, 0x6B, 0x10, 0x7E, static_cast<std::uint8_t>(i)}, 1);
        // Only the core's allocations are under test: the device records the
        // step's calls in room it has already.
        sim.sim_reserve_calls(sim.sim_call_count() + 1024);
    }

    int call(const ExportStep& step) {
        std::memset(buffer_.get(), 0x5A, static_cast<std::size_t>(kBufferSize));
        return step.call(buffer_.get(), kBufferSize);
    }
    // The text up to the NUL; a buffer left without one reads as a mark.
    std::string text() const {
        const bool ended = std::memchr(buffer_.get(), '\0', static_cast<std::size_t>(kBufferSize)) != nullptr;
        return ended ? std::string(buffer_.get()) : "<no NUL written>";
    }

    // What the step answers and logs with memory to spare.
    struct Reference {
        int length;
        std::string text, lines;
        bool simulation;  // the switch after the call
    };

    // A call whose allocation failed: either the normal answer or the fixed
    // out-of-memory one, and the first whole lines of the normal call's log.
    void check_refused_call(const ExportStep& step, const Reference& reference, int returned,
                            const std::string& before) {
        const std::string answer = text();
        const std::string after = log();
        if (step.kind == AnswerKind::Zero) {
            EXPECT_EQ(returned, 0);
        } else if (step.kind == AnswerKind::Json && answer != reference.text) {
            EXPECT_EQ(answer, kOutOfMemoryResult);
            EXPECT_EQ(static_cast<std::size_t>(returned), answer.size());
        } else {
            EXPECT_EQ(answer, reference.text);
        }
        ASSERT_TRUE(after.starts_with(before)) << "the log lost text";
        const std::string added = after.substr(before.size());
        EXPECT_TRUE(reference.lines.starts_with(added)) << "appended: " << added;
        EXPECT_TRUE(added.empty() || added.back() == '\n') << "a line was cut: " << added;
        EXPECT_EQ(simulation_on(), reference.simulation) << "the switch is set whether or not its line is logged";
        EXPECT_EQ(raw_log_fault(after), "");
        const auto frames = sim.written_frames();
        const auto written = [&frames](const Bytes& frame) { return std::count(frames.begin(), frames.end(), frame); };
        if (step.name == "VX_RunSafeFunction verified" && written({0x30, 0x01}) != 0) {
            EXPECT_EQ(written({0x30, 0x00}), 1) << "a started function is stopped: " << answer;
        }
    }

    // Fails the Nth allocation of step k for N = 1, 2, ... until the call
    // needs no more; returns how many refused calls answered out of memory.
    long exhaust(const std::vector<ExportStep>& steps, std::size_t k) {
        prepare(steps, k);
        const auto log_before = static_cast<std::size_t>(VX_GetLastLog(nullptr, 0));
        // Braced: the call comes first, then what it answered and logged.
        const Reference reference{call(steps[k]), text(), log().substr(log_before), simulation_on()};
        long out_of_memory = 0;
        for (long allowed = 0;; ++allowed) {
            SCOPED_TRACE("allocation " + std::to_string(allowed + 1) + " fails");
            prepare(steps, k);
            const std::string before = log();
            std::optional<FailingAllocations> exhaustion(std::in_place, allowed);
            const int returned = call(steps[k]);
            const bool refused = exhaustion->triggered();
            exhaustion.reset();
            if (!refused) {  // the call made all its allocations: it is the normal call
                EXPECT_EQ(returned, reference.length);
                EXPECT_EQ(text(), reference.text);
                EXPECT_EQ(log(), before + reference.lines);
                std::cout << "[ INFO     ] " << steps[k].name << ": " << allowed << " allocations, " << out_of_memory
                          << " answered out of memory\n";
                return out_of_memory;
            }
            check_refused_call(steps[k], reference, returned, before);
            if (text() == kOutOfMemoryResult) ++out_of_memory;
            if (HasFailure() || allowed >= 100000) return out_of_memory;  // the first failure tells the story
        }
    }

    std::unique_ptr<char[]> buffer_{new char[kBufferSize]};
};

TEST_F(ExhaustedMemory, EveryAllocationOfEveryExportMayFail) {
    ScopedHome home;
    home.write(".passthru/sim.json", R"({"NAME":"Simulated cable","FUNCTION_LIB":")" + sim.path() + R"("})");
    const std::vector<ExportStep> steps = host_session(sim.path());
    long refused_answers = 0;
    for (std::size_t k = 0; k < steps.size() && !HasFailure(); ++k) {
        SCOPED_TRACE(steps[k].name);
        refused_answers += exhaust(steps, k);
    }
    // Counted from the answers, not from the allocator: the refusals reached the exports.
    EXPECT_GT(refused_answers, 100);
}

}  // namespace
}  // namespace vx::testing
