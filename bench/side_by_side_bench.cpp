// The exports answered without the device, side by side with the yardstick
// (yardstick/yardstick.h, a plain C implementation of the same exports), on
// the same inputs: SideBySide/<case>/core and SideBySide/<case>/plain_c.
//
// Before a case is timed, it runs once on each implementation from the same
// state with the same fixed clock, and the program stops when the return
// values, result texts or log lines differ. The program prints the table of
// medians (core, plain C, target) after the benchmarks.
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "export_timing.h"
#include "platform/environment.h"
#include "yardstick/yardstick.h"

namespace vx::bench {
namespace {

// The state both implementations start a case in.
enum class Setting {
    Simulation,  // the switch on, no device bound
    NoChannel,   // the device bound (the core's), the switch off, no channel
    NoFolder,    // no ~/.passthru folder
    EmptyFolder  // an empty ~/.passthru folder
};

struct SideBySideCase {
    const char* name;
    Setting setting;
    double target_ns;  // 0: no time target (the discovery: one directory open)
    int (*core)();
    int (*plain_c)();
};

// One case: both implementations called with the same arguments, which end
// with the result buffer.
#define VX_SIDE_BY_SIDE(name, setting, target_ns, core_export, plain_c_export, ...)          \
    {name, Setting::setting, target_ns,                                                       \
     [] { return core_export(__VA_ARGS__ __VA_OPT__(, ) g_result, kResultSize); },           \
     [] { return plain_c_export(__VA_ARGS__ __VA_OPT__(, ) g_result, kResultSize); }}

// The three commands, each with the request that reaches its frames.
#define VX_COMMANDS(suffix, setting)                                                         \
    VX_SIDE_BY_SIDE("RunSafeFunction_" #suffix, setting, 400,                                 \
                    VX_RunSafeFunction, yard_run_safe_function, kSafeVerified),               \
    VX_SIDE_BY_SIDE("RunActuatorKwp71_" #suffix, setting, 400,                                \
                    VX_RunActuatorKwp71, yard_run_actuator_kwp71, kActuator),                 \
    VX_SIDE_BY_SIDE("ClearFaultMemory_" #suffix, setting, 400,                                \
                    VX_ClearFaultMemory, yard_clear_fault_memory, kClear)

// Targets: 400 ns for every export answered without the device, 200 ns for
// the simulated live data; the discovery's target is one directory open.
const SideBySideCase kCases[] = {
    {"SetSimulation", Setting::Simulation, 400, [] { return VX_SetSimulation(1); },
     [] { return yard_set_simulation(1); }},
    VX_SIDE_BY_SIDE("TestIso9141Connect_simulated", Simulation, 400,
                    VX_TestIso9141Connect, yard_test_iso9141_connect, 10400),
    VX_SIDE_BY_SIDE("TryFiveBaudInit_simulated", Simulation, 400,
                    VX_TryFiveBaudInit, yard_try_five_baud_init, 0x33),
    VX_SIDE_BY_SIDE("KLineActivityProbe_simulated", Simulation, 400,
                    VX_KLineActivityProbe, yard_kline_activity_probe),
    VX_SIDE_BY_SIDE("ProtocolTrafficProbe_simulated", Simulation, 400,
                    VX_ProtocolTrafficProbe, yard_protocol_traffic_probe, "KWP71"),
    VX_SIDE_BY_SIDE("ReadBatteryVoltage_simulated", Simulation, 400,
                    VX_ReadBatteryVoltage, yard_read_battery_voltage),
    VX_SIDE_BY_SIDE("ReadFaults_simulated", Simulation, 400, VX_ReadFaults, yard_read_faults, nullptr),
    VX_SIDE_BY_SIDE("ReadLiveData_simulated", Simulation, 200, VX_ReadLiveData, yard_read_live_data, nullptr),
    VX_COMMANDS(simulated, Simulation),
    VX_COMMANDS(no_channel, NoChannel),
    VX_SIDE_BY_SIDE("ListJ2534Devices_no_folder", NoFolder, 0, VX_ListJ2534Devices, yard_list_j2534_devices),
    VX_SIDE_BY_SIDE("ListJ2534Devices_empty_folder", EmptyFolder, 0, VX_ListJ2534Devices, yard_list_j2534_devices),
};
#undef VX_COMMANDS
#undef VX_SIDE_BY_SIDE

// HOME pointed at a folder of this process's own for the discovery cases.
class ScopedHome {
public:
    explicit ScopedHome(Setting setting) {
        if (setting != Setting::NoFolder && setting != Setting::EmptyFolder) return;
        home_ = std::filesystem::temp_directory_path() / ("vxdiag-bench-home-" + std::to_string(::getpid()));
        std::filesystem::remove_all(*home_);
        std::filesystem::create_directories(setting == Setting::EmptyFolder ? *home_ / ".passthru" : *home_);
        previous_ = platform::environment_variable("HOME");
        platform::set_environment_variable("HOME", home_->c_str());
    }
    ~ScopedHome() {
        if (!home_) return;
        platform::set_environment_variable("HOME", previous_ ? previous_->c_str() : nullptr);
        std::filesystem::remove_all(*home_);
    }
    ScopedHome(const ScopedHome&) = delete;
    ScopedHome& operator=(const ScopedHome&) = delete;

private:
    std::optional<std::filesystem::path> home_;
    std::optional<std::string> previous_;
};

void enter(Setting setting) {
    VX_CloseJ2534(nullptr, 0);  // unbinds and turns the switch on
    sim().sim_reset();
    if (setting == Setting::NoChannel) {
        VX_OpenJ2534Dll(SimControl::path(), g_result, kResultSize);
        DeviceTimer::install();
    }
    yard_reset(setting == Setting::Simulation);
    clear_log_for_tests();
    yard_clear_log();
}

// What one call left: its return value, the result text and the whole log.
struct Outcome {
    int value;
    std::string result;
    std::string log;
    bool operator==(const Outcome&) const = default;
};

Outcome outcome_of(int (*call)(), int (*get_log)(char*, int)) {
    std::fill(std::begin(g_result), std::end(g_result), '\0');
    Outcome out{.value = call(), .result = g_result, .log = {}};
    out.log.resize(static_cast<std::size_t>(get_log(nullptr, 0)));
    get_log(out.log.data(), static_cast<int>(out.log.size()) + 1);
    return out;
}

// Both implementations once, on the same fixed clock; stops the program when
// they disagree.
void check_same_texts(const SideBySideCase& side) {
    platform::ClockHooks hooks;
    hooks.local_time = [] { return platform::LocalTime{2024, 3, 5, 9, 7, 31}; };
    hooks.tick_count_ms = [] { return 123456u; };
    hooks.sleep_ms = [](std::uint32_t) {};
    platform::set_clock_hooks(&hooks);
    const YardClock clock{2024, 3, 5, 9, 7, 31, 123456u};
    yard_fix_clock(&clock);
    enter(side.setting);
    const Outcome core = outcome_of(side.core, VX_GetLastLog);
    const Outcome plain_c = outcome_of(side.plain_c, yard_get_last_log);
    yard_fix_clock(nullptr);
    BenchClock::install();
    if (core == plain_c) return;
    std::fprintf(stderr, "%s: the core and the yardstick differ\ncore:    %d %s\n%s\nplain C: %d %s\n%s\n", side.name,
                 core.value, core.result.c_str(), core.log.c_str(), plain_c.value, plain_c.result.c_str(),
                 plain_c.log.c_str());
    std::exit(2);
}

// Every call's own time by case, core [0] and plain C [1], over all runs.
using PooledTimes = std::map<const SideBySideCase*, std::array<std::vector<double>, 2>>;
PooledTimes& pooled_times() {
    static PooledTimes times;
    return times;
}

void run_side(benchmark::State& state, const SideBySideCase& side, bool plain_c) {
    const ScopedHome home(side.setting);
    check_same_texts(side);
    enter(side.setting);
    const std::vector<double> times = run_export(state, nullptr, plain_c ? side.plain_c : side.core);
    std::vector<double>& pool = pooled_times()[&side][plain_c ? 1 : 0];
    pool.insert(pool.end(), times.begin(), times.end());
    enter(Setting::Simulation);
}

[[maybe_unused]] const bool kRegistered = [] {
    for (const SideBySideCase& side : kCases) {
        for (const bool plain_c : {false, true}) {
            const std::string name = std::string("SideBySide/") + side.name + (plain_c ? "/plain_c" : "/core");
            benchmark::RegisterBenchmark(name.c_str(), [&side, plain_c](benchmark::State& state) {
                run_side(state, side, plain_c);
            })->UseManualTime();
        }
    }
    return true;
}();

}  // namespace

void print_side_by_side_table() {
    if (pooled_times().empty()) return;
    std::printf("\n| Case | Core, median | Plain C, median | Core / plain C | Target | Met |\n"
                "| --- | ---: | ---: | ---: | ---: | --- |\n");
    for (const SideBySideCase& side : kCases) {
        const auto found = pooled_times().find(&side);
        if (found == pooled_times().end()) continue;
        // A side that did not run (filtered out) shows as 0.
        const double core = median(found->second[0]);
        const double plain_c = median(found->second[1]);
        const std::string target =
            side.target_ns == 0 ? "1 directory open" : std::to_string(static_cast<int>(side.target_ns)) + " ns";
        const char* met = side.target_ns == 0 ? "strace" : (core <= side.target_ns ? "yes" : "**no**");
        std::printf("| %s | %.0f ns | %.0f ns | %.2f | %s | %s |\n", side.name, core, plain_c,
                    plain_c > 0 ? core / plain_c : 0.0, target.c_str(), met);
    }
}

}  // namespace vx::bench
