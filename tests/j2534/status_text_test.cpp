// Status names, detail texts and hint sentences, with the simulated device's
// own PassThruGetLastError as the library that explains a failure.
#include <climits>
#include <string>

#include "j2534/status_text.h"
#include "support/sim_device.h"

namespace vx::testing {
namespace {

using j2534::status_detail_text;
using j2534::to_status;

TEST(StatusText, ALongStatusIsReadAsItsLow32BitsSigned) {
    EXPECT_EQ(to_status(8L), 8);
    EXPECT_EQ(to_status(-5L), -5);
    // A library built with 32-bit statuses that returns 0xFFFFFFF8 means -8.
    EXPECT_EQ(to_status(static_cast<long>(0xFFFFFFF8UL)), -8);
    EXPECT_EQ(to_status(static_cast<long>(0x80000000UL)), INT_MIN);
    EXPECT_EQ(to_status(static_cast<long>(INT_MIN)), INT_MIN);
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

TEST_F(StatusDetail, TheLibrarysOwnTextFollowsTheNameOnlyWhenItSaysSomething) {
    struct Case {
        std::string_view text;  // what PassThruGetLastError writes
        long returned;          // and returns
        j2534::Status status;
        std::string detail;
    };
    const Case cases[] = {
        {"USB cable unplugged", 0, 8, "ERR_DEVICE_NOT_CONNECTED: USB cable unplugged"},
        {"ok", 0, 7, "ERR_FAILED: ok"},  // the comparison is case-sensitive
        {std::string_view("first\0second", 12), 0, 9, "ERR_TIMEOUT: first"},
        {"OK", 0, 8, "ERR_DEVICE_NOT_CONNECTED (rc=8)"},
        {"No Error", 0, 8, "ERR_DEVICE_NOT_CONNECTED (rc=8)"},
        {"STATUS_NOERROR", 0, -102, "ERR_UNKNOWN (rc=-102)"},
        {"", 0, 8, "ERR_DEVICE_NOT_CONNECTED (rc=8)"},
        {"No Error", 0, 0, "STATUS_NOERROR: No Error"},  // for 0 even "no error" is shown
        {"stale text", 7, 8, "ERR_DEVICE_NOT_CONNECTED (rc=8)"},  // a failing call is not trusted
    };
    for (const Case& c : cases) {
        sim.set_last_error(c.text, c.returned);
        EXPECT_EQ(status_detail_text(with_last_error(), c.status), c.detail) << c.text;
    }
    EXPECT_EQ(status_detail_text(j2534::EntryPoints{}, 8), "ERR_DEVICE_NOT_CONNECTED (rc=8)");
}

}  // namespace
}  // namespace vx::testing
