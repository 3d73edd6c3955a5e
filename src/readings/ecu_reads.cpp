// VX_ReadFaults and VX_ReadLiveData.
#include "readings/ecu_reads.h"

#include <string_view>

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
    return "{\"ok\":false,\"mode\":\"real-j2534\",\"message\":\"No J2534 channel is open. Connect ECU first.\",\"" +
           std::string(list_member) + "\":[]}";
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

// The simulated live-data result for one tick-count reading (ms since system
// start, wrapping at 2^32). The names, units and addresses are the core's
// own texts and need no escaping.
std::string simulated_live_data(std::uint32_t ticks) {
    ResultWriter w;
    w.raw("{\"ok\":true,\"mode\":\"simulation\",\"releaseMode\":\"group\",\"values\":[");
    for (const LiveValue& v : kLiveValues) {
        w.raw(&v == kLiveValues ? "{\"name\":\"" : ",{\"name\":\"").raw(v.name).raw("\",\"value\":\"");
        const std::uint32_t value = v.base + v.step * ((ticks / v.period_ms) % v.steps);
        if (v.in_tenths) {
            w.tenths(value);
        } else {
            w.unsigned_number(value);
        }
        w.raw("\",\"unit\":\"").raw(v.unit).raw("\",\"address\":\"").raw(v.address).raw("\"}");
    }
    w.raw("]}");
    return w.take();
}

}  // namespace

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

}  // namespace vx::readings
