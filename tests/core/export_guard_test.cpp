// The export guard: nothing crosses the C boundary, and the log never waits
// for the core lock. (Its out-of-memory answer, and the log lines whole or
// absent when memory runs out, are checked export by export in the
// reliability tests.)
#include <chrono>
#include <future>
#include <mutex>
#include <stdexcept>
#include <string>

#include "core/export_guard.h"
#include "support/core_fixture.h"

namespace vx::testing {
namespace {

using ExportGuard = CoreTest;

TEST_F(ExportGuard, AnyOtherExceptionGivesTheInternalErrorAnswer) {
    const int length = static_cast<int>(kInternalErrorResult.size());
    char buffer[128];
    EXPECT_EQ(guarded_result(buffer, sizeof buffer, []() -> std::string { throw std::runtime_error("x"); }), length);
    EXPECT_EQ(std::string(buffer), kInternalErrorResult);
    EXPECT_EQ(guarded_result(nullptr, 0, []() -> std::string { throw 42; }), length);
    EXPECT_EQ(guarded_call(-7, []() -> int { throw std::bad_alloc(); }), -7);
    EXPECT_EQ(guarded_call(-7, []() -> int { throw std::logic_error("x"); }), -7);
    EXPECT_EQ(guarded_call(-7, [] { return 3; }), 3);
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
