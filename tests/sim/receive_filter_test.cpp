// The simulated device keeps the receive-filter rules of SAE J2534-1 04.04
// (7.3.7): nothing is received on a channel until a pass filter matches, a
// matching block filter wins, filters are checked when set and end with the
// channel. The lenient build and setting let everything through.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/text_utils.h"
#include "j2534/passthru.h"
#include "support/sim_device.h"

namespace vx::testing {
namespace {

struct FilterArgs {
    unsigned long type;
    const char* mask;     // hex bytes
    const char* pattern;  // hex bytes, as many as the mask
};

struct PassRow {
    const char* name;
    std::vector<FilterArgs> filters;
    const char* frame;
    bool received;
};

const PassRow kPassRows[] = {
    {"no filter blocks everything", {}, "48 6B 10", false},
    {"the core's pass-all filter", {{1, "00", "00"}}, "48 6B 10", true},
    {"a pattern that matches", {{1, "FF 00", "48 00"}}, "48 6B 10", true},
    {"a pattern that does not", {{1, "FF", "49"}}, "48 6B 10", false},
    {"masked bits are ignored", {{1, "F0", "4F"}}, "48", true},
    {"a frame shorter than the mask", {{1, "00 00", "00 00"}}, "48", false},
    {"a block filter alone passes nothing", {{2, "00", "00"}}, "48", false},
    {"a matching block filter wins", {{1, "00", "00"}, {2, "FF", "48"}}, "48 6B", false},
    {"a block filter that does not match", {{1, "00", "00"}, {2, "FF", "49"}}, "48 6B", true},
};

class SimReceiveFilter : public ::testing::Test {
protected:
    void open_channel(SimDevice& sim) {
        open_ = sim.entry<PTOPEN>("PassThruOpen");
        connect_ = sim.entry<PTCONNECT>("PassThruConnect");
        read_ = sim.entry<PTREADMSGS>("PassThruReadMsgs");
        start_ = sim.entry<PTSTARTMSGFILTER>("PassThruStartMsgFilter");
        stop_ = sim.entry<PTSTOPMSGFILTER>("PassThruStopMsgFilter");
        disconnect_ = sim.entry<PTDISCONNECT>("PassThruDisconnect");
        ASSERT_EQ(open_(nullptr, &device_), 0);
        ASSERT_EQ(connect_(device_, j2534::kProtocolIso9141, 0, 10400, &channel_), 0);
    }
    long start(const FilterArgs& args, unsigned long* id, unsigned long pattern_protocol = 3) {
        PASSTHRU_MSG mask{}, pattern{};
        fill(mask, args.mask, 3);
        fill(pattern, args.pattern, pattern_protocol);
        return start_(channel_, args.type, &mask, &pattern, nullptr, id);
    }
    // Queues the frame and reads once: whether it came through.
    bool received(SimDevice& sim, const char* frame) {
        std::vector<std::uint8_t> bytes;
        EXPECT_TRUE(parse_hex_text(frame, bytes));
        sim.queue_reply(bytes);
        PASSTHRU_MSG msg{};
        unsigned long count = 1;
        const long rc = read_(channel_, &msg, &count, 0);
        return rc == 0 && count == 1 && msg.DataSize == bytes.size();
    }
    static void fill(PASSTHRU_MSG& msg, const char* hex, unsigned long protocol) {
        std::vector<std::uint8_t> bytes;
        if (*hex != '\0') {
            EXPECT_TRUE(parse_hex_text(hex, bytes));
        }
        msg.ProtocolID = protocol;
        msg.DataSize = static_cast<unsigned long>(bytes.size());
        std::copy(bytes.begin(), bytes.end(), msg.Data);
    }

    PTOPEN open_ = nullptr;
    PTCONNECT connect_ = nullptr;
    PTREADMSGS read_ = nullptr;
    PTSTARTMSGFILTER start_ = nullptr;
    PTSTOPMSGFILTER stop_ = nullptr;
    PTDISCONNECT disconnect_ = nullptr;
    unsigned long device_ = 0;
    unsigned long channel_ = 0;
};

TEST_F(SimReceiveFilter, FramesPassByThePassAndBlockFiltersSet) {
    for (const PassRow& row : kPassRows) {
        SCOPED_TRACE(row.name);
        for (const char* build : {SimDevice::kFull, SimDevice::kLenient}) {
            SimDevice sim(build);
            open_channel(sim);
            unsigned long id = 0;
            for (const FilterArgs& args : row.filters) ASSERT_EQ(start(args, &id), 0);
            const bool lenient = build == SimDevice::kLenient;
            EXPECT_EQ(received(sim, row.frame), row.received || lenient) << build;
            // The back door turns the rules off and on.
            sim.sim_set_lenient(lenient ? 0 : 1);
            EXPECT_EQ(received(sim, row.frame), row.received || !lenient) << build;
        }
    }
}

TEST_F(SimReceiveFilter, FiltersAreCheckedAndEndWithTheChannel) {
    SimDevice sim;
    open_channel(sim);
    unsigned long id = 0;
    // Unusable filters, 7.3.7.
    EXPECT_EQ(start({3, "00", "00"}, &id), j2534::kErrInvalidMsg) << "flow control is ISO 15765 only";
    EXPECT_EQ(start({9, "00", "00"}, &id), j2534::kErrFailed) << "no such filter type";
    EXPECT_EQ(start({1, "", ""}, &id), j2534::kErrInvalidMsg);
    EXPECT_EQ(start({1, "00 00 00 00 00 00 00 00 00 00 00 00 00", "00 00 00 00 00 00 00 00 00 00 00 00 00"}, &id),
              j2534::kErrInvalidMsg) << "13 bytes";
    EXPECT_EQ(start({1, "00", "00 00"}, &id), j2534::kErrInvalidMsg) << "sizes differ";
    EXPECT_EQ(start({1, "00", "00"}, &id, 6), j2534::kErrMsgProtocolId);
    EXPECT_EQ(start({1, "00", "00"}, nullptr), j2534::kErrNullParameter);
    EXPECT_EQ(id, 0u) << "no id for a refused filter";
    // Ten filters per channel, each with its own id.
    std::vector<unsigned long> ids(10);
    for (unsigned long& each : ids) ASSERT_EQ(start({2, "FF", "11"}, &each), 0);
    EXPECT_EQ(start({1, "00", "00"}, &id), j2534::kErrExceededLimit);
    EXPECT_EQ(stop_(channel_, ids[3]), 0);
    EXPECT_EQ(stop_(channel_, ids[3]), j2534::kErrInvalidMsgId) << "stopped already";
    ASSERT_EQ(start({1, "00", "00"}, &id), 0);
    EXPECT_NE(id, ids[3]);
    EXPECT_TRUE(received(sim, "48"));
    // A new channel starts without filters.
    EXPECT_EQ(disconnect_(channel_), 0);
    EXPECT_EQ(stop_(channel_, id), j2534::kErrInvalidChannelId);
    ASSERT_EQ(connect_(device_, j2534::kProtocolIso9141, 0, 10400, &channel_), 0);
    EXPECT_FALSE(received(sim, "48"));
    EXPECT_EQ(stop_(channel_, id), j2534::kErrInvalidMsgId);
}

}  // namespace
}  // namespace vx::testing
