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
        VX_CloseJ2534(nullptr, 0);
        j2534::reset_device_state_for_tests();
        set_simulation(false);
        clear_log_for_tests();
        sim.sim_reset();
        FakeClock::install();
        FakeClock::sleeps.reserve(64);  // the fake sleep must not allocate where allocation fails
        // Replies for the probes and commands to read.
        for (int i = 0; i < 12; ++i) sim.queue_reply({0x48, 0x6B, 0x10, static_cast<std::uint8_t>(i)});
        for (std::size_t i = 0; i < step; ++i) steps[i].call(buffer_.get(), kBufferSize);
        // Only the core's allocations are under test: the device records the
        // step's calls in room it has already.
        sim.sim_reserve_calls(sim.sim_call_count() + 1024);
    }

    int call(const ExportStep& step) {
        std::memset(buffer_.get(), 0x5A, static_cast<std::size_t>(kBufferSize));
        return step.call(buffer_.get(), kBufferSize);
    }
    // How often the session wrote this frame.
    int frames_written(const std::vector<std::uint8_t>& frame) const {
        const auto frames = sim.written_frames();
        return static_cast<int>(std::count(frames.begin(), frames.end(), frame));
    }
    // The text up to the NUL; a buffer left without one reads as a mark.
    std::string text() const {
        const void* nul = std::memchr(buffer_.get(), '\0', static_cast<std::size_t>(kBufferSize));
        if (nul == nullptr) return "<no NUL written>";
        return std::string(buffer_.get(), static_cast<std::size_t>(static_cast<const char*>(nul) - buffer_.get()));
    }

    std::unique_ptr<char[]> buffer_{new char[kBufferSize]};
};

TEST_F(ExhaustedMemory, EveryAllocationOfEveryExportMayFail) {
    ScopedHome home;
    home.write(".passthru/sim.json", R"({"NAME":"Simulated cable","FUNCTION_LIB":")" + sim.path() + R"("})");
    const std::vector<ExportStep> steps = host_session(sim.path());

    long total_failures = 0;
    for (std::size_t k = 0; k < steps.size(); ++k) {
        const ExportStep& step = steps[k];
        SCOPED_TRACE(step.name);

        // With memory to spare.
        prepare(steps, k);
        const auto log_before = static_cast<std::size_t>(VX_GetLastLog(nullptr, 0));
        const int reference_length = call(step);
        const std::string reference = text();
        const std::string reference_lines = log().substr(log_before);

        long failures = 0;
        for (long allowed = 0;; ++allowed) {
            SCOPED_TRACE("allocation " + std::to_string(allowed + 1) + " fails");
            prepare(steps, k);
            const std::string before = log();
            int returned = 0;
            bool refused = false;
            {
                FailingAllocations exhaustion(allowed);
                returned = call(step);
                refused = exhaustion.triggered();
            }
            const std::string answer = text();
            const std::string after = log();

            if (!refused) {
                // The call made all its allocations: it is the normal call.
                EXPECT_EQ(returned, reference_length);
                EXPECT_EQ(answer, reference);
                EXPECT_EQ(after, before + reference_lines);
                break;
            }
            ++failures;

            switch (step.kind) {
                case AnswerKind::Json:
                    EXPECT_EQ(static_cast<std::size_t>(returned), answer.size());
                    if (answer != reference) {
                        EXPECT_EQ(answer, kOutOfMemoryResult);
                    }
                    break;
                case AnswerKind::Zero:
                    EXPECT_EQ(returned, 0);
                    break;
                case AnswerKind::Version:
                case AnswerKind::Log:
                    EXPECT_EQ(answer, reference);
                    break;
            }
            // The lines appended are the first whole lines of the normal call.
            ASSERT_TRUE(after.starts_with(before)) << "the log lost text";
            const std::string added = after.substr(before.size());
            EXPECT_TRUE(reference_lines.starts_with(added)) << "appended: " << added;
            EXPECT_TRUE(added.empty() || added.back() == '\n') << "a line was cut: " << added;
            EXPECT_EQ(raw_log_fault(after), "");
            if (step.name == "VX_RunSafeFunction verified" && frames_written({0x30, 0x01}) != 0) {
                EXPECT_EQ(frames_written({0x30, 0x00}), 1) << "a started function is stopped: " << answer;
            }

            if (HasFailure()) return;  // the first failing allocation tells the story
            ASSERT_LT(allowed, 100000) << "the call never stops allocating";
        }
        total_failures += failures;
        std::cout << "[ INFO     ] " << step.name << ": " << failures << " allocations\n";
    }
    EXPECT_GT(total_failures, 100) << "the session's allocations were reached";
    std::cout << "[ INFO     ] " << steps.size() << " exports, " << total_failures
              << " calls with a failing allocation\n";
}

}  // namespace
}  // namespace vx::testing
