// A started function must be stopped even when memory runs out mid-command.
#include "commands/command_fixture.h"
#include "core/text_utils.h"
#include "support/failing_allocation.h"

namespace vx::testing {
namespace {

using StopFrameGuarantee = ChannelTest;

int count_frames(const std::vector<Bytes>& frames, const Bytes& wanted) {
    int n = 0;
    for (const Bytes& frame : frames) n += frame == wanted ? 1 : 0;
    return n;
}

TEST_F(StopFrameGuarantee, EveryStartFrameOnTheLineIsFollowedByItsStopFrameWhateverAllocationFails) {
    connect_channel();
    const char* request =
        "{\"name\":\"Idle\",\"mode\":\"verified\",\"startHex\":\"04 01 04 01 03\","
        "\"stopHex\":\"04 03 04 00 03\",\"maxRunMs\":20}";
    const Bytes start{0x04, 0x01, 0x04, 0x01, 0x03};
    const Bytes stop{0x04, 0x03, 0x04, 0x00, 0x03};

    // The fake sleep records into this vector; it must not allocate in the failing scope.
    FakeClock::sleeps.reserve(1024);
    int runs_with_start_sent = 0;
    bool completed = false;
    for (long allowed = 0; allowed < 400 && !completed; ++allowed) {
        sim.sim_clear_calls();
        sim.sim_reserve_calls(64);  // the device's own record must not allocate in the failing scope
        char buffer[4096];
        {
            FailingAllocations failing(allowed);
            VX_RunSafeFunction(request, buffer, static_cast<int>(sizeof buffer));
            completed = !failing.triggered();
        }
        const std::vector<Bytes> frames = sim.written_frames();
        if (count_frames(frames, start) == 0) continue;
        ++runs_with_start_sent;
        EXPECT_EQ(count_frames(frames, stop), 1) << "allocations allowed: " << allowed << " result: " << buffer
                                              << " device saw: " << ::testing::PrintToString(sim.call_names());
    }
    EXPECT_TRUE(completed);
    EXPECT_GT(runs_with_start_sent, 1) << "some runs must fail after the start frame went out";
}

}  // namespace
}  // namespace vx::testing
