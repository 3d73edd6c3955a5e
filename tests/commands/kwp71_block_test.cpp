// The KWP71 block builder and the block counter, below the exports.
#include <string>

#include "commands/kwp71_block.h"
#include "support/core_fixture.h"

namespace vx::testing {
namespace {

using commands::build_kwp71_block;
using commands::Kwp71Block;

using Kwp71BlockBuilder = CoreTest;

struct Built {
    bool ok;
    Kwp71Block block;
    std::string error;
};

Built build(std::string_view type, std::string_view payload, std::string_view trailer, int sequence) {
    Built out{};
    out.block.counter = 0xEE;  // a failure must leave this alone
    out.ok = build_kwp71_block(type, payload, trailer, sequence, out.block, out.error);
    return out;
}

std::string hex_of(std::size_t count, std::string_view byte) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        if (i != 0) text += ' ';
        text += byte;
    }
    return text;
}

TEST_F(Kwp71BlockBuilder, BuildsLengthCounterTitleDataAndDefaultEnd) {
    const Built b = build("04", "01 02", "", -1);
    ASSERT_TRUE(b.ok);
    EXPECT_EQ(b.block.bytes, (Bytes{0x05, 0x01, 0x04, 0x01, 0x02, 0x03}));
    EXPECT_EQ(b.block.counter, 1);
    EXPECT_EQ(b.error, "");

    const Built two_end_bytes = build("0x1C", "AA", "03 00", -1);
    ASSERT_TRUE(two_end_bytes.ok);
    EXPECT_EQ(two_end_bytes.block.bytes, (Bytes{0x05, 0x01, 0x1C, 0xAA, 0x03, 0x00}))
        << "the length byte counts both end bytes";
}

TEST_F(Kwp71BlockBuilder, RefusesWithTheFirstBadFieldsMessage) {
    const std::string type_error(commands::kKwp71CommandTypeError);
    const std::string payload_error(commands::kKwp71PayloadError);
    const std::string trailer_error(commands::kKwp71TrailerError);

    for (const char* type : {"0401", "4", "", "zz"}) {
        const Built b = build(type, "", "0", -1);
        EXPECT_FALSE(b.ok) << type;
        EXPECT_EQ(b.error, type_error) << type << ": later bad fields are not looked at";
        EXPECT_TRUE(b.block.bytes.empty());
        EXPECT_EQ(b.block.counter, 0xEE) << "the counter output is not set on failure";
    }
    for (const char* payload : {"", "012", "xx", "01 02 0"}) {
        const Built b = build("04", payload, "0", -1);
        EXPECT_FALSE(b.ok) << payload;
        EXPECT_EQ(b.error, payload_error) << payload;
    }
    EXPECT_EQ(build("04", hex_of(129, "01"), "", -1).error, payload_error)
        << "more than 128 payload bytes is a payload failure too";
    for (const char* trailer : {"0", "0 3 0", "x3"}) {
        const Built b = build("04", "01", trailer, -1);
        EXPECT_FALSE(b.ok) << trailer;
        EXPECT_EQ(b.error, trailer_error) << trailer;
    }
    EXPECT_EQ(core_state().kwp71_block_counter, 1);
}

TEST_F(Kwp71BlockBuilder, LengthByteMustHoldTheBody) {
    const std::string payload = hex_of(128, "11");
    const Built largest = build("04", payload, hex_of(125, "03"), -1);
    ASSERT_TRUE(largest.ok) << largest.error;
    EXPECT_EQ(largest.block.bytes.size(), 256u);
    EXPECT_EQ(largest.block.bytes[0], 255);
    EXPECT_EQ(largest.block.bytes[3], 0x11);
    EXPECT_EQ(largest.block.bytes[255], 0x03);

    const Built too_long = build("04", payload, hex_of(126, "03"), -1);
    EXPECT_FALSE(too_long.ok);
    EXPECT_EQ(too_long.error, "KWP71 block body length exceeds one byte.");
    EXPECT_TRUE(too_long.block.bytes.empty());
}

TEST_F(Kwp71BlockBuilder, SequenceOverridesTheCounterOnlyWithinOneTo255) {
    core_state().kwp71_block_counter = 42;
    EXPECT_EQ(build("04", "01", "", 7).block.bytes[1], 0x07);
    EXPECT_EQ(build("04", "01", "", 255).block.counter, 255);
    for (const int sequence : {0, -1, 256, -255}) {
        const Built b = build("04", "01", "", sequence);
        EXPECT_EQ(b.block.counter, 42) << sequence;
        EXPECT_EQ(b.block.bytes[1], 42) << sequence;
    }
    EXPECT_EQ(core_state().kwp71_block_counter, 42) << "building never moves the counter";

    core_state().kwp71_block_counter = 0;
    EXPECT_EQ(build("04", "01", "", -1).block.counter, 1) << "a stored 0 counts as 1";
}

TEST_F(Kwp71BlockBuilder, CounterAdvancesByOneAndWrapsFrom255ToOne) {
    commands::advance_kwp71_block_counter(3);
    EXPECT_EQ(core_state().kwp71_block_counter, 4);
    EXPECT_EQ(commands::current_kwp71_block_counter(), 4);
    commands::advance_kwp71_block_counter(254);
    EXPECT_EQ(core_state().kwp71_block_counter, 255);
    commands::advance_kwp71_block_counter(255);
    EXPECT_EQ(core_state().kwp71_block_counter, 1);
}

}  // namespace
}  // namespace vx::testing
