// The frame write refuses what cannot go on the line before calling the
// device. The exports never hand it such a frame, so it is tested here.
#include <vector>

#include "exchange/frame_exchange.h"
#include "j2534/status_text.h"
#include "support/sim_device.h"

namespace vx::testing {
namespace {

using FrameExchange = SimDeviceTest;

TEST_F(FrameExchange, AFrameThatCannotGoOutWholeIsRefusedBeforeTheDevice) {
    open_device();
    char buffer[512];
    VX_TestIso9141Connect(10400, buffer, sizeof buffer);
    sim.sim_clear_calls();
    const std::vector<std::uint8_t> full(j2534::kMsgDataCapacity, 0x55);
    const std::vector<std::uint8_t> too_long(j2534::kMsgDataCapacity + 1, 0x55);
    std::uint32_t written = 7;
    EXPECT_EQ(write_frame({}, 0, 1000, written), j2534::kCodeFrameRefused);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(write_frame(too_long, 0, 1000, written), j2534::kCodeFrameRefused);
    EXPECT_EQ(sim.calls_of(SIM_FN_WRITE_MSGS).size(), 0u);

    EXPECT_EQ(write_frame(full, 0x200, 1000, written), 0);
    EXPECT_EQ(written, 1u);
    ASSERT_EQ(sim.calls_of(SIM_FN_WRITE_MSGS).size(), 1u);
    EXPECT_EQ(sim.calls_of(SIM_FN_WRITE_MSGS)[0].msg_data_size, j2534::kMsgDataCapacity);

    j2534::device_state().channel_id = 0;
    EXPECT_EQ(write_frame(full, 0, 1000, written), j2534::kCodeFrameRefused);
    EXPECT_EQ(sim.calls_of(SIM_FN_WRITE_MSGS).size(), 1u);
}

}  // namespace
}  // namespace vx::testing
