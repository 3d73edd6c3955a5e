// VX_ReadFaults and VX_ReadLiveData.
#include "readings/ecu_reads.h"

#include <array>
#include <iterator>
#include <string_view>

#include "VXArvessaDiagCore.h"
#include "core/export_guard.h"
#include "core/raw_log.h"
#include "core/result_writer.h"
#include "core/simulation_switch.h"
#include "exchange/backend_forward_probe.h"
#include "exchange/probe_catalogue.h"
#include "j2534/device_state.h"
#include "platform/clock.h"

namespace vx::readings {

namespace {

constexpr std::string_view kSimulatedFaults =
    "{\"ok\":true,\"mode\":\"Simulation\",\"message\":\"No fault data returned yet.\",\"faults\":[]}";

// Both reads without a channel; list_member is "faults" or "values".
std::string no_channel_answer(std::string_view list_member) {
    std::string text =
        "{\"ok\":false,\"mode\":\"real-j2534\",\"message\":\"No J2534 channel is open. Connect ECU first.\",\"";
    text.append(list_member).append("\":[]}");
    return text;
}

// One simulated value: base + step * ((ticks / period_ms) % steps), shown
// whole or, when held in tenths, with exactly one decimal.
struct LiveValue {
    std::string_view name;
    std::string_view unit;
    std::string_view address;
    std::uint32_t base;
    std::uint32_t step;
    std::uint32_t period_ms;
    std::uint32_t steps;
    bool in_tenths;
};

constexpr LiveValue kLiveValues[] = {
    {.name = "Engine speed", .unit = "rpm", .address = "0x2001",
     .base = 850, .step = 1, .period_ms = 90, .steps = 180, .in_tenths = false},
    {.name = "Battery voltage", .unit = "V", .address = "0x2006",
     .base = 134, .step = 1, .period_ms = 500, .steps = 8, .in_tenths = true},
    {.name = "Engine temperature", .unit = "degrees C", .address = "0x2008",
     .base = 780, .step = 10, .period_ms = 800, .steps = 10, .in_tenths = true},
    {.name = "Throttle absolute angle", .unit = "%", .address = "0x2058",
     .base = 25, .step = 1, .period_ms = 600, .steps = 14, .in_tenths = true},
    {.name = "Injection time", .unit = "ms", .address = "0x2060",
     .base = 20, .step = 1, .period_ms = 700, .steps = 8, .in_tenths = true},
};

// The simulated live data's fixed text, joined once at compile time: the
// values are written into it at value_at. The names, units and addresses are
// the core's own texts and need no escaping.
struct LiveDataTemplate {
    std::array<char, 512> text{};
    std::size_t size = 0;
    std::array<std::size_t, std::size(kLiveValues)> value_at{};

    constexpr void append(std::string_view fragment) {
        for (const char c : fragment) text[size++] = c;
    }
    constexpr std::string_view between(std::size_t begin, std::size_t end) const {
        return {text.data() + begin, end - begin};
    }
};

constexpr LiveDataTemplate make_live_data_template() {
    LiveDataTemplate t;
    t.append("{\"ok\":true,\"mode\":\"simulation\",\"releaseMode\":\"group\",\"values\":[");
    for (std::size_t i = 0; i < std::size(kLiveValues); ++i) {
        const LiveValue& v = kLiveValues[i];
        t.append(i == 0 ? "{\"name\":\"" : ",{\"name\":\"");
        t.append(v.name);
        t.append("\",\"value\":\"");
        t.value_at[i] = t.size;
        t.append("\",\"unit\":\"");
        t.append(v.unit);
        t.append("\",\"address\":\"");
        t.append(v.address);
        t.append("\"}");
    }
    t.append("]}");
    return t;
}

constexpr LiveDataTemplate kLiveDataTemplate = make_live_data_template();

std::string read_faults() {
    if (simulation_on()) {
        // This line ends with LF alone, unlike every other raw-log line.
        log_line(" VX_ReadFaults simulation - no decoded fault rows returned yet", LineEnd::Lf);
        return std::string(kSimulatedFaults);
    }
    if (j2534::device_state().channel_id == 0) return no_channel_answer("faults");
    std::string result = run_read_probe("faults", kFaultReadFrame, kFaultReadTimeoutMs);
    insert_members(result, ",\"faults\":[]");
    return result;
}

std::string read_live_data() {
    if (simulation_on()) return simulated_live_data(platform::tick_count_ms());
    if (j2534::device_state().channel_id == 0) return no_channel_answer("values");
    return run_read_probe("parameters", kLiveDataReadFrame, kLiveDataReadTimeoutMs);
}

}  // namespace

std::string simulated_live_data(std::uint32_t ticks) {
    ResultWriter w;
    std::size_t from = 0;
    for (std::size_t i = 0; i < std::size(kLiveValues); ++i) {
        const LiveValue& v = kLiveValues[i];
        w.raw(kLiveDataTemplate.between(from, kLiveDataTemplate.value_at[i]));
        const std::uint32_t value = v.base + v.step * ((ticks / v.period_ms) % v.steps);
        if (v.in_tenths) {
            w.tenths(value);
        } else {
            w.unsigned_number(value);
        }
        from = kLiveDataTemplate.value_at[i];
    }
    w.raw(kLiveDataTemplate.between(from, kLiveDataTemplate.size));
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
