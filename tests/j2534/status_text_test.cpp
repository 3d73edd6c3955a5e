// Status names, detail texts and hint sentences, row by row from
// status_text.json, with the simulated device's own PassThruGetLastError as
// the library that explains a failure.
#include <nlohmann/json.hpp>

#include <cstdint>
#include <fstream>
#include <string>

#include "j2534/status_text.h"
#include "support/sim_device.h"

namespace vx::testing {
namespace {

const nlohmann::json kRows = nlohmann::json::parse(std::ifstream(VXDIAG_TEST_DIR "/j2534/status_text.json"));

TEST(StatusText, ALongStatusIsReadAsItsLow32BitsSigned) {
    for (const auto& r : kRows.at("to_status")) {
        const auto returned = static_cast<long>(static_cast<unsigned long>(r[0].get<std::int64_t>()));
        EXPECT_EQ(j2534::to_status(returned), r[1].get<int>()) << r;
    }
}

TEST(StatusText, TheLibrarysOwnTextFollowsTheNameOnlyWhenItSaysSomething) {
    SimDevice sim;
    j2534::EntryPoints entry;
    entry.get_last_error = sim.entry<PTGETLASTERROR>("PassThruGetLastError");
    for (const auto& r : kRows.at("detail")) {
        sim.set_last_error(r[0].get<std::string>(), r[1].get<long>());
        EXPECT_EQ(j2534::status_detail_text(entry, r[2].get<int>()), r[3].get<std::string>()) << r;
    }
    EXPECT_EQ(j2534::status_detail_text(j2534::EntryPoints{}, 8), "ERR_DEVICE_NOT_CONNECTED (rc=8)");
}

}  // namespace
}  // namespace vx::testing
