// VX_ReadFaults and VX_ReadLiveData.
#include "readings/ecu_reads.h"

#include <array>
#include <string_view>

#include "VXArvessaDiagCore.h"
#include "core/core_state.h"
#include "core/export_guard.h"
#include "core/raw_log.h"
#include "core/result_writer.h"
#include "exchange/backend_forward_probe.h"
#include "platform/clock.h"

namespace vx::readings {

namespace {

// ISO 9141-2 OBD request header 68 6A F1, then the service:
// 03 (stored trouble codes) and 01 PID 00 (supported parameters).
constexpr std::array<std::uint8_t, 4> kFaultsRequest{0x68, 0x6A, 0xF1, 0x03};
constexpr std::array<std::uint8_t, 5> kLiveDataRequest{0x68, 0x6A, 0xF1, 0x01, 0x00};
constexpr std::uint32_t kFaultsTimeoutMs = 1500;
constexpr std::uint32_t kLiveDataTimeoutMs = 1000;

constexpr std::string_view kSimulatedFaults =
    "{\"ok\":true,\"mode\":\"Simulation\",\"message\":\"No fault data returned yet.\",\"faults\":[]}";
constexpr std::string_view kNoChannelFaults =
    "{\"ok\":false,\"mode\":\"real-j2534\",\"message\":\"No J2534 channel is open. Connect ECU "
    "first.\",\"faults\":[]}";
constexpr std::string_view kNoChannelLiveData =
    "{\"ok\":false,\"mode\":\"real-j2534\",\"message\":\"No J2534 channel is open. Connect ECU "
    "first.\",\"values\":[]}";

// A value held in tenths, written with exactly one decimal. Every simulated
// value is a base plus whole tenths, so integer tenths give the nearest
// one-decimal text exactly, where binary doubles would carry stray digits.
std::string tenths_text(std::uint32_t tenths) {
    std::string text = unsigned_text(tenths / 10u);
    text.push_back('.');
    text.push_back(static_cast<char>('0' + tenths % 10u));
    return text;
}

struct LiveValue {
    std::string_view name;
    std::string value;
    std::string_view unit;
    std::string_view address;
};

std::string read_faults() {
    if (core_state().simulation) {
        // This line ends with LF alone, unlike every other raw-log line.
        log_line(" VX_ReadFaults simulation - no decoded fault rows returned yet", LineEnd::Lf);
        return std::string(kSimulatedFaults);
    }
    if (core_state().channel_id != 0) {
        std::string result =
            RunReadProbe("faults", kFaultsRequest.data(), kFaultsRequest.size(), kFaultsTimeoutMs);
        insert_members(result, ",\"faults\":[]");
        return result;
    }
    return std::string(kNoChannelFaults);
}

std::string read_live_data() {
    if (core_state().simulation) return simulated_live_data(platform::tick_count_ms());
    if (core_state().channel_id != 0) {
        return RunReadProbe("parameters", kLiveDataRequest.data(), kLiveDataRequest.size(),
                            kLiveDataTimeoutMs);
    }
    return std::string(kNoChannelLiveData);
}

}  // namespace

std::string simulated_live_data(std::uint32_t t) {
    const std::array<LiveValue, 5> values{{
        {"Engine speed", unsigned_text(850u + (t / 90u) % 180u), "rpm", "0x2001"},
        {"Battery voltage", tenths_text(134u + (t / 500u) % 8u), "V", "0x2006"},
        {"Engine temperature", tenths_text(780u + 10u * ((t / 800u) % 10u)), "degrees C", "0x2008"},
        {"Throttle absolute angle", tenths_text(25u + (t / 600u) % 14u), "%", "0x2058"},
        {"Injection time", tenths_text(20u + (t / 700u) % 8u), "ms", "0x2060"},
    }};
    ResultWriter w;
    w.raw("{\"ok\":true,\"mode\":\"simulation\",\"releaseMode\":\"group\",\"values\":[");
    bool first = true;
    for (const LiveValue& v : values) {
        if (!first) w.raw(",");
        first = false;
        w.raw("{\"name\":\"")
            .text(v.name)
            .raw("\",\"value\":\"")
            .text(v.value)
            .raw("\",\"unit\":\"")
            .text(v.unit)
            .raw("\",\"address\":\"")
            .text(v.address)
            .raw("\"}");
    }
    w.raw("]}");
    return w.take();
}

}  // namespace vx::readings

extern "C" {

VX_API int VX_CALL VX_ReadFaults(const char* /*unused*/, char* buffer, int size) {
    return vx::guarded_result(buffer, size, [] { return vx::readings::read_faults(); });
}

VX_API int VX_CALL VX_ReadLiveData(const char* /*unused*/, char* buffer, int size) {
    return vx::guarded_result(buffer, size, [] { return vx::readings::read_live_data(); });
}

}  // extern "C"
