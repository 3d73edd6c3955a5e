// Status names, detail texts and hint sentences, with the simulated device's
// own PassThruGetLastError as the library that explains a failure.
#include <climits>
#include <string>

#include "j2534/status_text.h"
#include "support/sim_device.h"

namespace vx::testing {
namespace {

using j2534::status_detail_text;
using j2534::status_hint_sentence;
using j2534::status_name;
using j2534::to_status;

TEST(StatusText, EveryJ2534CodeHasItsNameAndEverythingElseIsUnknown) {
    const char* const names[] = {
        "STATUS_NOERROR",        "ERR_NOT_SUPPORTED",     "ERR_INVALID_CHANNEL_ID",
        "ERR_INVALID_PROTOCOL_ID", "ERR_NULL_PARAMETER",  "ERR_INVALID_IOCTL_VALUE",
        "ERR_INVALID_FLAGS",     "ERR_FAILED",            "ERR_DEVICE_NOT_CONNECTED",
        "ERR_TIMEOUT",           "ERR_INVALID_MSG",       "ERR_INVALID_TIME_INTERVAL",
        "ERR_EXCEEDED_LIMIT",    "ERR_INVALID_MSG_ID",    "ERR_UNKNOWN",
        "ERR_UNKNOWN",           "ERR_DEVICE_IN_USE",     "ERR_INVALID_IOCTL_ID",
        "ERR_BUFFER_EMPTY",      "ERR_BUFFER_FULL",       "ERR_BUFFER_OVERFLOW",
        "ERR_PIN_INVALID",       "ERR_CHANNEL_IN_USE",    "ERR_MSG_PROTOCOL_ID",
        "ERR_INVALID_FILTER_ID", "ERR_NO_FLOW_CONTROL",   "ERR_NOT_UNIQUE",
        "ERR_INVALID_BAUDRATE",  "ERR_INVALID_DEVICE_ID",
    };
    for (j2534::Status code = 0; code <= 28; ++code) {
        EXPECT_STREQ(status_name(code), names[code]) << "code " << code;
    }
    for (j2534::Status code : {29, 0x1000, INT_MAX, -1, -100, -101, -102, -200, -999, INT_MIN}) {
        EXPECT_STREQ(status_name(code), "ERR_UNKNOWN") << "code " << code;
    }
}

TEST(StatusText, ALongStatusIsReadAsItsLow32BitsSigned) {
    EXPECT_EQ(to_status(8L), 8);
    EXPECT_EQ(to_status(-5L), -5);
    // A library built with 32-bit statuses that returns 0xFFFFFFF8 means -8.
    EXPECT_EQ(to_status(static_cast<long>(0xFFFFFFF8UL)), -8);
    EXPECT_EQ(to_status(static_cast<long>(0x80000000UL)), INT_MIN);
    EXPECT_EQ(to_status(static_cast<long>(INT_MIN)), INT_MIN);
}

TEST(StatusText, HintSentenceNamesTheOperationStatusAndHint) {
    EXPECT_EQ(status_hint_sentence("READ_VBATT", 17),
              "READ_VBATT returned ERR_INVALID_IOCTL_ID (rc=17). "
              "This VCI driver may not expose this optional J2534 IOCTL.");
    EXPECT_EQ(status_hint_sentence("READ_VBATT", 1),
              "READ_VBATT returned ERR_NOT_SUPPORTED (rc=1). "
              "This VCI driver may not expose this optional J2534 IOCTL.");
    EXPECT_EQ(status_hint_sentence("FIVE_BAUD_INIT", 7),
              "FIVE_BAUD_INIT returned ERR_FAILED (rc=7). This is common when no ECU is connected, "
              "the K-line adapter has no vehicle power/ground, or the VCI driver cannot complete the "
              "ECU handshake.");
    EXPECT_EQ(status_hint_sentence("READ_VBATT", 26),
              "READ_VBATT returned ERR_NOT_UNIQUE (rc=26). "
              "This VCI driver does not provide a unique/valid value for this optional request.");
    EXPECT_EQ(status_hint_sentence("READ_VBATT", 9),
              "READ_VBATT returned ERR_TIMEOUT (rc=9). "
              "The ISO9141 channel may still be usable; verify on a powered vehicle.");
    EXPECT_EQ(status_hint_sentence("FIVE_BAUD_INIT", -999),
              "FIVE_BAUD_INIT returned ERR_UNKNOWN (rc=-999). "
              "The ISO9141 channel may still be usable; verify on a powered vehicle.");
}

// The detail text asks the simulated device's PassThruGetLastError.
class StatusDetail : public ::testing::Test {
protected:
    j2534::EntryPoints with_last_error() {
        j2534::EntryPoints entry;
        entry.get_last_error = sim.entry<PTGETLASTERROR>("PassThruGetLastError");
        return entry;
    }
    SimDevice sim;
};

TEST_F(StatusDetail, WithoutGetLastErrorTheNameAndCodeAreShown) {
    const j2534::EntryPoints none;
    EXPECT_EQ(status_detail_text(none, 8), "ERR_DEVICE_NOT_CONNECTED (rc=8)");
    EXPECT_EQ(status_detail_text(none, 0), "STATUS_NOERROR (rc=0)");
    EXPECT_EQ(status_detail_text(none, -102), "ERR_UNKNOWN (rc=-102)");
    EXPECT_EQ(sim.sim_call_count(), 0u);
}

TEST_F(StatusDetail, TheLibrarysOwnTextFollowsTheNameWhenItSaysSomething) {
    const j2534::EntryPoints entry = with_last_error();
    sim.set_last_error("USB cable unplugged");
    EXPECT_EQ(status_detail_text(entry, 8), "ERR_DEVICE_NOT_CONNECTED: USB cable unplugged");
    EXPECT_EQ(sim.calls_of(SIM_FN_GET_LAST_ERROR).size(), 1u);
    EXPECT_EQ(sim.calls_of(SIM_FN_GET_LAST_ERROR)[0].output_non_null, 1);

    // The comparison with the uninformative texts is case-sensitive.
    sim.set_last_error("ok");
    EXPECT_EQ(status_detail_text(entry, 7), "ERR_FAILED: ok");

    // Only the text up to the first NUL counts.
    sim.set_last_error(std::string_view("first\0second", 12));
    EXPECT_EQ(status_detail_text(entry, 9), "ERR_TIMEOUT: first");
}

TEST_F(StatusDetail, UninformativeEmptyOrFailedLastErrorFallsBackToNameAndCode) {
    const j2534::EntryPoints entry = with_last_error();
    for (const char* says_nothing : {"OK", "No Error", "STATUS_NOERROR", ""}) {
        sim.set_last_error(says_nothing);
        EXPECT_EQ(status_detail_text(entry, 8), "ERR_DEVICE_NOT_CONNECTED (rc=8)") << says_nothing;
    }
    // For status 0 the library's text is shown even when it says no error.
    sim.set_last_error("No Error");
    EXPECT_EQ(status_detail_text(entry, 0), "STATUS_NOERROR: No Error");

    // A text that comes with a failing status is not trusted.
    sim.set_last_error("stale text", 7);
    EXPECT_EQ(status_detail_text(entry, 8), "ERR_DEVICE_NOT_CONNECTED (rc=8)");
    sim.set_last_error("stale text", 0);
    sim.sim_set_status(SIM_FN_GET_LAST_ERROR, 4);
    EXPECT_EQ(status_detail_text(entry, 8), "ERR_DEVICE_NOT_CONNECTED (rc=8)");
}

TEST_F(StatusDetail, ALastErrorThatFillsTheWholeBufferWithoutNulIsReadOnlyToTheBufferEnd) {
    const j2534::EntryPoints entry = with_last_error();
    const std::string full(j2534::kLastErrorBufferSize, 'E');
    sim.set_last_error(full);
    // AddressSanitizer reports any read past the 512-byte buffer.
    EXPECT_EQ(status_detail_text(entry, 7), "ERR_FAILED: " + full);
}

}  // namespace
}  // namespace vx::testing
