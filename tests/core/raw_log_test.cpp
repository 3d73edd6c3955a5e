// The raw log: line format, order, and what a host reads back.
#include <string>
#include <vector>

#include "support/core_fixture.h"

namespace vx::testing {
namespace {

using RawLog = CoreTest;

TEST_F(RawLog, LinesCarryTheTimeOfAppendingKeepTheirOrderAndAreNotEscaped) {
    const std::string value("C:\\Drivers\\\"op\".dll\t\x01\xE4", 22);
    log_line(" first");
    log_line(" load path=" + value);
    FakeClock::now = {2024, 12, 31, 23, 59, 59};
    log_line(" third");
    FakeClock::now = {2025, 1, 1, 0, 0, 0};
    log_line(" fault read", LineEnd::Lf);
    EXPECT_EQ(log(),
              "2024-03-05 09:07:31 first\r\n"
              "2024-03-05 09:07:31 load path=" + value + "\r\n"
              "2024-12-31 23:59:59 third\r\n"
              "2025-01-01 00:00:00 fault read\n");
}

TEST_F(RawLog, GetLastLogGivesTheOldestPartCutInsideALine) {
    log_line(" one");
    log_line(" two");
    const std::string full = log();
    ASSERT_EQ(full.size(), 2u * 25u);

    std::vector<char> buffer(40, 'Z');
    EXPECT_EQ(VX_GetLastLog(buffer.data(), 40), 50);
    EXPECT_EQ(std::string(buffer.data()), "2024-03-05 09:07:31 one\r\n2024-03-05 09:");
    EXPECT_EQ(log(), full) << "reading changes nothing";

    buffer.assign(64, 'Z');
    EXPECT_EQ(VX_GetLastLog(buffer.data(), 64), 50);
    EXPECT_EQ(std::string(buffer.data()), full);
}

}  // namespace
}  // namespace vx::testing
