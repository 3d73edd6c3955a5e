// The simulated device keeps the receive-filter rules of SAE J2534-1 04.04
// (7.3.7): nothing is received on a channel until a pass filter matches, a
// matching block filter wins, filters are checked when set and end with the
// channel. The lenient build and setting let everything through. The rows are
// in receive_filter.json.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <string>
#include <vector>

#include "core/text_utils.h"
#include "j2534/passthru.h"
#include "support/sim_device.h"

namespace vx::testing {
namespace {

using json = nlohmann::json;

const json kRows = json::parse(std::ifstream(VXDIAG_TEST_DIR "/sim/receive_filter.json"));

// One channel of a device, called through its own entry points.
class SimChannel {
public:
    explicit SimChannel(SimDevice& sim) : sim_(sim) {
        EXPECT_EQ(sim.entry<PTOPEN>("PassThruOpen")(nullptr, &device_), 0);
        connect();
    }
    void connect() { EXPECT_EQ(connect_(device_, j2534::kProtocolIso9141, 0, 10400, &channel_), 0); }
    // Starts a filter: [type, mask hex, pattern hex, pattern protocol (3 if absent)].
    long start(const json& args, unsigned long* id) {
        PASSTHRU_MSG mask{}, pattern{};
        fill(mask, args[1], 3);
        fill(pattern, args[2], args.size() > 3 ? args[3].get<unsigned long>() : 3);
        return start_(channel_, args[0].get<unsigned long>(), &mask, &pattern, nullptr, id);
    }
    long stop(unsigned long id) { return stop_(channel_, id); }
    long disconnect() { return sim_.entry<PTDISCONNECT>("PassThruDisconnect")(channel_); }
    // Queues the frame and reads once: whether it came through.
    bool received(const std::string& frame) {
        std::vector<std::uint8_t> bytes;
        EXPECT_TRUE(parse_hex_text(frame, bytes));
        sim_.queue_reply(bytes);
        PASSTHRU_MSG msg{};
        unsigned long count = 1;
        const long rc = sim_.entry<PTREADMSGS>("PassThruReadMsgs")(channel_, &msg, &count, 0);
        return rc == 0 && count == 1 && msg.DataSize == bytes.size();
    }

private:
    static void fill(PASSTHRU_MSG& msg, const json& hex, unsigned long protocol) {
        std::vector<std::uint8_t> bytes;
        EXPECT_TRUE(hex == "" || parse_hex_text(hex.get<std::string>(), bytes)) << hex;
        msg.ProtocolID = protocol;
        msg.DataSize = static_cast<unsigned long>(bytes.size());
        std::copy(bytes.begin(), bytes.end(), msg.Data);
    }

    SimDevice& sim_;
    PTCONNECT connect_ = sim_.entry<PTCONNECT>("PassThruConnect");
    PTSTARTMSGFILTER start_ = sim_.entry<PTSTARTMSGFILTER>("PassThruStartMsgFilter");
    PTSTOPMSGFILTER stop_ = sim_.entry<PTSTOPMSGFILTER>("PassThruStopMsgFilter");
    unsigned long device_ = 0;
    unsigned long channel_ = 0;
};

TEST(SimReceiveFilter, FramesPassByThePassAndBlockFiltersSet) {
    for (const json& row : kRows.at("pass")) {
        SCOPED_TRACE(row[0].get<std::string>());
        for (const char* build : {SimDevice::kFull, SimDevice::kLenient}) {
            SimDevice sim(build);
            SimChannel channel(sim);
            unsigned long id = 0;
            for (const json& args : row[1]) ASSERT_EQ(channel.start(args, &id), 0);
            const bool lenient = build == SimDevice::kLenient;
            EXPECT_EQ(channel.received(row[2]), row[3] || lenient) << build;
            // The back door turns the rules off and on.
            sim.sim_set_lenient(lenient ? 0 : 1);
            EXPECT_EQ(channel.received(row[2]), row[3] || !lenient) << build;
        }
    }
}

TEST(SimReceiveFilter, FiltersAreCheckedAndEndWithTheChannel) {
    SimDevice sim;
    SimChannel channel(sim);
    unsigned long id = 0;
    for (const json& row : kRows.at("refused")) EXPECT_EQ(channel.start(row[1], &id), row[2]) << row[0];
    EXPECT_EQ(channel.start({1, "00", "00"}, nullptr), j2534::kErrNullParameter);
    EXPECT_EQ(id, 0u) << "no id for a refused filter";
    // Ten filters per channel, each with its own id.
    std::vector<unsigned long> ids(10);
    for (unsigned long& each : ids) ASSERT_EQ(channel.start({2, "FF", "11"}, &each), 0);
    EXPECT_EQ(channel.start({1, "00", "00"}, &id), j2534::kErrExceededLimit);
    EXPECT_EQ(channel.stop(ids[3]), 0);
    EXPECT_EQ(channel.stop(ids[3]), j2534::kErrInvalidMsgId) << "stopped already";
    ASSERT_EQ(channel.start({1, "00", "00"}, &id), 0);
    EXPECT_NE(id, ids[3]);
    EXPECT_TRUE(channel.received("48"));
    // A new channel starts without filters.
    EXPECT_EQ(channel.disconnect(), 0);
    EXPECT_EQ(channel.stop(id), j2534::kErrInvalidChannelId);
    channel.connect();
    EXPECT_FALSE(channel.received("48"));
    EXPECT_EQ(channel.stop(id), j2534::kErrInvalidMsgId);
}

}  // namespace
}  // namespace vx::testing
