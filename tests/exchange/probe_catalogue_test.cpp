// The probe frame catalogue and the attempt lists built from it.
#include "exchange/probe_catalogue.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/text_utils.h"

namespace vx::testing {
namespace {

// "name hex/flags/timeout" per record, for whole-list comparisons.
std::vector<std::string> describe(const ProbeAttemptList& list) {
    std::vector<std::string> out;
    for (const ProbeAttempt& a : list) {
        out.push_back(a.name + " " + hex_bytes_text(a.frame) + "/" + unsigned_text(a.txFlags) +
                      "/" + unsigned_text(a.timeoutMs));
    }
    return out;
}

TEST(ProbeCatalogue, FunctionClickListIsTheFourClickFramesWithTheCallersTimeout) {
    EXPECT_EQ(describe(BuildFunctionClickAttempts(250)),
              (std::vector<std::string>{
                  "function-click-tester-present 3E 00/0/250",
                  "function-click-obd-mode01 68 6A F1 01 00/0/250",
                  "function-click-obd-mode01-no-checksum 68 6A F1 01 00/512/250",
                  "function-click-raw-55-no-checksum 55/512/250",
              }));
    EXPECT_EQ(describe(BuildFunctionClickAttempts(0)).back(),
              "function-click-raw-55-no-checksum 55/512/1000");
}

TEST(ProbeCatalogue, ReadListWithoutARequestedFrameHoldsTheFiveCatalogueFrames) {
    const std::vector<std::string> expected{
        "obd-mode01-header 68 6A F1 01 00/0/700",
        "obd-mode01-header-no-checksum 68 6A F1 01 00/512/700",
        "obd-mode03-header 68 6A F1 03/0/700",
        "kwp-tester-present 3E 00/0/700",
        "raw-55-no-checksum 55/512/700",
    };
    EXPECT_EQ(describe(BuildReadAttempts(nullptr, 0, 700)), expected);
    const std::uint8_t someByte = 0x11;
    EXPECT_EQ(describe(BuildReadAttempts(&someByte, 0, 700)), expected)
        << "a zero-length frame is not added";
    EXPECT_EQ(describe(BuildReadAttempts(nullptr, 4, 700)), expected)
        << "a length without data is not added";
}

TEST(ProbeCatalogue, RequestedFrameDisplacesOnlyItsCatalogueTwinWithTheSameTxFlags) {
    EXPECT_EQ(describe(BuildReadAttempts(kFaultReadFrame.data(), kFaultReadFrame.size(),
                                         kFaultReadTimeoutMs)),
              (std::vector<std::string>{
                  "requested-frame 68 6A F1 03/0/1500",
                  "obd-mode01-header 68 6A F1 01 00/0/1500",
                  "obd-mode01-header-no-checksum 68 6A F1 01 00/512/1500",
                  "kwp-tester-present 3E 00/0/1500",
                  "raw-55-no-checksum 55/512/1500",
              }));
    EXPECT_EQ(describe(BuildReadAttempts(kLiveDataReadFrame.data(), kLiveDataReadFrame.size(),
                                         kLiveDataReadTimeoutMs)),
              (std::vector<std::string>{
                  "requested-frame 68 6A F1 01 00/0/1000",
                  "obd-mode01-header-no-checksum 68 6A F1 01 00/512/1000",
                  "obd-mode03-header 68 6A F1 03/0/1000",
                  "kwp-tester-present 3E 00/0/1000",
                  "raw-55-no-checksum 55/512/1000",
              }));

    // 55 with TxFlags 0 is not the same attempt as 55 without checksum.
    const std::uint8_t raw55 = 0x55;
    const ProbeAttemptList withRaw55 = BuildReadAttempts(&raw55, 1, 300);
    ASSERT_EQ(withRaw55.size(), 6u);
    EXPECT_EQ(describe(withRaw55).front(), "requested-frame 55/0/300");
    EXPECT_EQ(describe(withRaw55).back(), "raw-55-no-checksum 55/512/300");

    // A prefix of a catalogue frame is a different frame.
    const std::uint8_t header[] = {0x68, 0x6A, 0xF1};
    EXPECT_EQ(BuildReadAttempts(header, sizeof header, 300).size(), 6u);
}

TEST(ProbeCatalogue, AddProbeAttemptKeepsTheFirstOccurrenceAndCopiesTheBytes) {
    ProbeAttemptList list;
    std::uint8_t frame[] = {0x3E, 0x00};
    AddProbeAttempt(list, "first", frame, sizeof frame, 0, 400);
    AddProbeAttempt(list, "second", frame, sizeof frame, 0, 900);
    AddProbeAttempt(list, "third", frame, sizeof frame, 0x200, 0);
    AddProbeAttempt(list, nullptr, frame, 1, 0, -5);
    frame[0] = 0xFF;
    AddProbeAttempt(list, "empty", frame, 0, 0, 100);

    EXPECT_EQ(describe(list), (std::vector<std::string>{
                                  "first 3E 00/0/400",
                                  "third 3E 00/512/1000",
                                  "tx 3E/0/1000",
                              }));
}

}  // namespace
}  // namespace vx::testing
