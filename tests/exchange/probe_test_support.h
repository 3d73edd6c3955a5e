// Shared scaffolding of the probe tests: the simulated device with an open
// ISO 9141 channel, and the texts the probes are expected to produce.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "support/sim_device.h"

namespace vx::testing {

// One raw-log line as the fake clock stamps it.
inline std::string stamped(std::string_view text) {
    return "2024-03-05 09:07:31" + std::string(text) + "\r\n";
}

// Fragment checks: a failing EXPECT_TRUE(has_text(...)) prints both texts.
inline ::testing::AssertionResult has_text(const std::string& text, const std::string& part) {
    if (text.find(part) != std::string::npos) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "\n  text: " << text << "\n  lacks: " << part;
}

// The rx entry of a reply queued with SimDevice::queue_reply.
inline std::string rx_entry_of(std::string_view hex, unsigned size) {
    return "{\"protocol\":3,\"rxStatus\":0,\"txFlags\":0,\"timestamp\":0,\"size\":" +
           std::to_string(size) + ",\"hex\":\"" + std::string(hex) + "\"}";
}

class ProbeTest : public SimDeviceTest {
protected:
    // Opens the device and connects channel 5; confirms the five-baud
    // initialisation when asked. Afterwards the device's call record and the
    // raw log are empty.
    void connect_channel(bool confirm_init = false) {
        sim.sim_set_channel_id(5);
        open_device();
        char buffer[2048];
        VX_TestIso9141Connect(10400, buffer, static_cast<int>(sizeof buffer));
        ASSERT_EQ(core_state().channel_id, 5u) << buffer;
        if (confirm_init) {
            VX_TryFiveBaudInit(0x33, buffer, static_cast<int>(sizeof buffer));
            ASSERT_TRUE(core_state().ecu_init_confirmed) << buffer;
        }
        ASSERT_EQ(core_state().ecu_init_confirmed, confirm_init);
        sim.sim_clear_calls();
        clear_log_for_tests();
    }

    // Calls a result export with a roomy buffer and checks that it returned
    // the full length of what it wrote.
    template <typename Export>
    static std::string result_of(Export&& call) {
        std::vector<char> buffer(65536, '\0');
        const int length = call(buffer.data(), static_cast<int>(buffer.size()));
        std::string text(buffer.data());
        EXPECT_EQ(length, static_cast<int>(text.size()));
        return text;
    }

    // What the device received, one name per call ("PassThruIoctl(7)", ...).
    std::vector<std::string> device_saw() const { return sim.call_names(); }

    // The time-outs, TxFlags or frames of every call of one entry point.
    std::vector<unsigned long> timeouts_of(int function) const {
        std::vector<unsigned long> out;
        for (const sim_call& call : sim.calls_of(function)) out.push_back(call.timeout);
        return out;
    }
    std::vector<unsigned long> tx_flags_written() const {
        std::vector<unsigned long> out;
        for (const sim_call& call : sim.calls_of(SIM_FN_WRITE_MSGS))
            out.push_back(call.msg_tx_flags);
        return out;
    }
    using Frames = std::vector<std::vector<std::uint8_t>>;
};

// Names of the device calls, for building expected sequences.
inline const std::string kClearTx = "PassThruIoctl(7)";
inline const std::string kClearRx = "PassThruIoctl(8)";
inline const std::string kWrite = "PassThruWriteMsgs";
inline const std::string kRead = "PassThruReadMsgs";

// Frames of the catalogue as the device sees them.
inline const std::vector<std::uint8_t> kTesterPresentBytes{0x3E, 0x00};
inline const std::vector<std::uint8_t> kObdMode01Bytes{0x68, 0x6A, 0xF1, 0x01, 0x00};
inline const std::vector<std::uint8_t> kObdMode03Bytes{0x68, 0x6A, 0xF1, 0x03};
inline const std::vector<std::uint8_t> kRaw55Bytes{0x55};

// ERR_TIMEOUT (SAE J2534-1 04.04).
inline constexpr long kErrTimeout = 9;

}  // namespace vx::testing
