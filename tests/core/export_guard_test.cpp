// The export guard: nothing crosses the C boundary, exhausted memory gives a
// fixed answer, the log stays whole, and the log never waits for the core lock.
#include <chrono>
#include <future>
#include <mutex>
#include <stdexcept>
#include <string>

#include "core/export_guard.h"
#include "core/result_writer.h"
#include "support/core_fixture.h"
#include "support/failing_allocation.h"

namespace vx::testing {
namespace {

using ExportGuard = CoreTest;

// The fixed answer itself is checked export by export in the reliability
// tests; here, that it is cut and measured like any other result.
TEST_F(ExportGuard, TheOutOfMemoryAnswerIsCutAndMeasuredLikeAnyOther) {
    const int expected_length = static_cast<int>(kOutOfMemoryResult.size());
    char buffer[8];
    int n = 0;
    {
        FailingAllocations no_memory(0);
        n = guarded_result(buffer, sizeof buffer, [] { return ResultWriter().raw("{\"ok\":true,\"dll\":\"").take(); });
    }
    EXPECT_EQ(n, expected_length);
    EXPECT_STREQ(buffer, "{\"ok\":f");
    EXPECT_EQ(guarded_result(nullptr, 0, []() -> std::string { throw std::bad_alloc(); }), expected_length);
}

TEST_F(ExportGuard, AnyOtherExceptionGivesTheInternalErrorAnswer) {
    char buffer[128];
    EXPECT_EQ(guarded_result(buffer, sizeof buffer, []() -> std::string { throw std::runtime_error("x"); }),
              static_cast<int>(kInternalErrorResult.size()));
    EXPECT_EQ(std::string(buffer), kInternalErrorResult);
    EXPECT_EQ(guarded_result(buffer, sizeof buffer, []() -> std::string { throw 42; }),
              static_cast<int>(kInternalErrorResult.size()));

    EXPECT_EQ(guarded_call(-7, []() -> int { throw std::bad_alloc(); }), -7);
    EXPECT_EQ(guarded_call(-7, []() -> int { throw std::logic_error("x"); }), -7);
    EXPECT_EQ(guarded_call(-7, [] { return 3; }), 3);
}

TEST_F(ExportGuard, ALogLineIsAppendedWholeOrNotAtAll) {
    const std::string line = "2024-03-05 09:07:31 simulation=ON\r\n";
    // Let the n-th allocation of the call fail, for every n until the call
    // needs no more than it is allowed: each allocation the line needs is hit.
    for (long allowed = 0;; ++allowed) {
        clear_log_for_tests();
        log_line(" an earlier line");
        const std::string before = log();
        set_simulation(false);
        bool refused = false;
        int rc = -1;
        {
            FailingAllocations exhaustion(allowed);
            rc = VX_SetSimulation(1);
            refused = exhaustion.triggered();
        }
        EXPECT_EQ(rc, 0);
        EXPECT_TRUE(simulation_on()) << "the switch is set before the line is logged";
        if (!refused) {
            EXPECT_EQ(log(), before + line);
            EXPECT_GE(allowed, 1) << "building the line and growing the log allocate";
            break;
        }
        EXPECT_EQ(log(), before) << "allocation " << allowed << " failed";
        ASSERT_LT(allowed, 50) << "the call never stops allocating";
    }
}

TEST_F(ExportGuard, GetLastLogDoesNotWaitForAnExportInProgress) {
    VX_SetSimulation(1);
    const std::string expected = log();

    // Another thread is inside a long device operation and holds the core lock.
    std::unique_lock<std::mutex> busy(core_mutex());
    auto reader = std::async(std::launch::async, [] {
        char buffer[128];
        const int n = VX_GetLastLog(buffer, sizeof buffer);
        return std::string(buffer, static_cast<std::size_t>(n));
    });
    const bool answered = reader.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    busy.unlock();
    ASSERT_TRUE(answered) << "VX_GetLastLog waited for the core lock";
    EXPECT_EQ(reader.get(), expected);
}

}  // namespace
}  // namespace vx::testing
