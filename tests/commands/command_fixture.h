// A simulated device with an open ISO 9141 channel, for the command and
// reading exports.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "support/sim_device.h"

namespace vx::testing {

using RequestExport = int (*)(const char*, char*, int);

// Calls an export that takes a request text and checks that it returned the
// full length of what it wrote.
inline std::string call_export(RequestExport fn, const char* request) {
    std::vector<char> buffer(32768, '\0');
    const int length = fn(request, buffer.data(), static_cast<int>(buffer.size()));
    std::string text(buffer.data());
    EXPECT_EQ(length, static_cast<int>(text.size()));
    return text;
}

// One raw-log line as the fake clock stamps it.
inline std::string log_entry(std::string_view text) {
    return "2024-03-05 09:07:31" + std::string(text) + "\r\n";
}

// The rx entry of a reply the helper queues: ISO9141, no status bits.
inline std::string rx_entry(std::string_view hex, unsigned size) {
    return "{\"protocol\":3,\"rxStatus\":0,\"txFlags\":0,\"timestamp\":0,\"size\":" +
           std::to_string(size) + ",\"hex\":\"" + std::string(hex) + "\"}";
}

inline bool contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

class ChannelTest : public SimDeviceTest {
protected:
    // Opens the device and connects the channel; confirms the 5-baud
    // initialisation when asked. Afterwards the device's call record, the
    // raw log and the recorded sleeps are empty.
    void connect_channel(bool confirm_init = true) {
        ASSERT_TRUE(contains(open_device(), "\"ok\":true"));
        char buffer[2048];
        VX_TestIso9141Connect(10400, buffer, static_cast<int>(sizeof buffer));
        ASSERT_NE(j2534::device_state().channel_id, 0u) << buffer;
        if (confirm_init) {
            VX_TryFiveBaudInit(0x33, buffer, static_cast<int>(sizeof buffer));
            ASSERT_TRUE(j2534::device_state().ecu_init_confirmed) << buffer;
        } else {
            ASSERT_FALSE(j2534::device_state().ecu_init_confirmed);
        }
        sim.sim_clear_calls();
        clear_log_for_tests();
        FakeClock::sleeps.clear();
    }

    // The write time-outs and read time-outs the device received, in order.
    std::vector<unsigned long> timeouts_of(int function) const {
        std::vector<unsigned long> out;
        for (const sim_call& call : sim.calls_of(function)) out.push_back(call.timeout);
        return out;
    }
};

}  // namespace vx::testing
