// The largest answers: every export that reaches the device, driven with the
// largest answer the caps allow (every read returns a full message whose
// numbers all have their most digits), fits VX_ANSWER_BUFFER_SIZE, so a host
// that sizes one buffer by it never has to call a device export twice.
#include <nlohmann/json.hpp>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "support/export_calls.h"
#include "support/sim_device.h"

namespace vx::testing {
namespace {

using AnswerSizeTest = SimDeviceTest;

// How the device answers: messages counted truly, no write ever taken (so
// every probe tries all its frames, each with its replies), or every call failing with the longest
// last-error text, all control characters (each escaped to six bytes).
enum class Device { kTakesWrites, kTakesNoWrite, kFailsEverything };

TEST_F(AnswerSizeTest, EveryDeviceAnswerFitsTheLargestAnswer) {
    const std::vector<std::uint8_t> data(SIM_MAX_FRAME, 0xFF);
    sim_reply full{};
    full.data = data.data();
    full.size = SIM_MAX_FRAME;
    full.protocol_id = full.rx_status = full.tx_flags = full.timestamp = ULONG_MAX;
    full.override_data_size = 1;
    full.data_size = ULONG_MAX;
    const std::string last_error(SIM_LAST_ERROR_CAPACITY, '\x02');
    const std::vector<std::uint8_t> keys(SIM_MAX_INIT_BYTES, 0xFF);

    int largest = 0;
    const auto rows = nlohmann::json::parse(std::ifstream(VXDIAG_TEST_DIR "/core/answer_size.json"));
    for (const auto& row : rows.at("calls")) {
        const std::string name = row[0].get<std::string>();
        std::string argument = row[1].get<std::string>();
        if (const auto at = argument.find("$TEXT"); at != std::string::npos) argument.replace(at, 5, 300, '\x01');
        for (const Device device : {Device::kTakesWrites, Device::kTakesNoWrite, Device::kFailsEverything}) {
            SCOPED_TRACE(name + " " + argument.substr(0, 40) + " device " + std::to_string(static_cast<int>(device)));
            restart();
            ASSERT_NE(open_device().find("\"ok\":true"), std::string::npos);
            char scratch[1024];
            VX_TestIso9141Connect(10400, scratch, sizeof scratch);
            sim.set_five_baud_keys(keys, SIM_MAX_INIT_BYTES);
            ASSERT_NE(std::string(scratch, static_cast<std::size_t>(VX_TryFiveBaudInit(0x33, scratch, sizeof scratch)))
                          .find("\"initOk\":true"),
                      std::string::npos);
            for (int i = 0; i < 64; ++i) sim.sim_queue_reply(&full);
            if (device == Device::kTakesNoWrite) {
                sim.sim_set_write_reported_count(0);
                sim.sim_set_status(SIM_FN_WRITE_MSGS, INT32_MIN);  // the most digits a status has
            }
            if (device == Device::kFailsEverything) {
                sim.set_last_error(last_error, 0);
                for (int function = SIM_FN_CONNECT; function < SIM_FN_GET_LAST_ERROR; ++function) {
                    sim.sim_set_status(function, 0x7FFFFFFF);
                }
            }
            // A null buffer gives the full length; the call itself is the same.
            const int length = call_export(name, argument, nullptr, 0);
            const int bound = VX_ANSWER_BUFFER_SIZE(static_cast<int>(argument.size())) - 1;
            EXPECT_LE(length, bound);
            largest = std::max(largest, length);
        }
    }
    // The bound is the true largest answer up to its allowance for members:
    // where unsigned long has 20 digits (LP64) the fault read comes within it.
    if constexpr (sizeof(unsigned long) == 8) {
        EXPECT_GT(largest, VX_MAX_ANSWER_BYTES - VX_ANSWER_MEMBER_ALLOWANCE) << "largest answer " << largest;
    }
    std::printf("largest answer %d bytes, VX_MAX_ANSWER_BYTES %d\n", largest, VX_MAX_ANSWER_BYTES);
}

}  // namespace
}  // namespace vx::testing
