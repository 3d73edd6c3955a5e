// The built core library as a host sees it: loaded by path, called through
// the exported names only.
#include <cstring>
#include <string>

#include "platform/dynamic_library.h"
#include "reliability/host_session.h"
#include "support/core_fixture.h"

namespace vx::testing {
namespace {

using ProbeFn = int(VX_CALL*)(char*, int);
using ReadFn = int(VX_CALL*)(const char*, char*, int);

template <typename Fn>
Fn find(const platform::Library& library, const char* name) {
    return reinterpret_cast<Fn>(library.symbol(name));
}

using LibraryBoundary = CoreTest;

TEST_F(LibraryBoundary, LoadedCoreAnswersFromItsOwnState) {
    const platform::Library core(VXDIAG_CORE_PATH);
    ASSERT_TRUE(core.loaded()) << platform::last_load_error();
    const auto core_version = find<const char*(VX_CALL*)(void)>(core, "VX_CoreVersion");
    const auto set_simulation = find<int(VX_CALL*)(int)>(core, "VX_SetSimulation");
    const auto get_last_log = find<ProbeFn>(core, "VX_GetLastLog");
    ASSERT_TRUE(core_version != nullptr && set_simulation != nullptr && get_last_log != nullptr);
    // Only a real path names a library (dlopen would hand back this program).
    EXPECT_EQ(platform::load_library(""), nullptr);
    EXPECT_EQ(platform::load_library(nullptr), nullptr);
    EXPECT_EQ(core.symbol("_ZN2vx5j253412device_stateEv"), nullptr) << "internal names stay hidden";

    EXPECT_STREQ(core_version(), "Vexaro Arvessa Ryx J2534 communication core ready");

    // Right after load the log is empty: a single NUL and length 0.
    char buffer[128];
    std::memset(buffer, 'Z', sizeof buffer);
    EXPECT_EQ(get_last_log(buffer, sizeof buffer), 0);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(buffer[1], 'Z');

    // The loaded library has its own core state, log and (real) clock, apart
    // from the copy linked into this test program.
    EXPECT_EQ(set_simulation(1), 0);
    ASSERT_EQ(get_last_log(buffer, sizeof buffer), 35);
    const std::string line(buffer);
    EXPECT_EQ(raw_log_fault(line), "") << "a whole line stamped by the real clock";
    EXPECT_GE(line.substr(0, 4), "2024") << "the local time, not an empty one";
    EXPECT_EQ(line.substr(19), " simulation=ON\r\n");
    EXPECT_EQ(get_last_log(nullptr, 0), 35) << "reading changes nothing";

    // The simulated live values follow the real tick count.
    char values[1024];
    find<ReadFn>(core, "VX_ReadLiveData")(nullptr, values, sizeof values);
    EXPECT_EQ(std::string(values).rfind(R"({"ok":true,"mode":"simulation")", 0), 0u) << values;

    // Loaded, the core holds no channel: with simulation off a probe says so.
    EXPECT_EQ(set_simulation(0), 0);
    find<ProbeFn>(core, "VX_KLineActivityProbe")(buffer, sizeof buffer);
    EXPECT_STREQ(buffer, R"({"ok":false,"stage":"not-connected","message":"ISO9141 channel is not open."})");

    EXPECT_FALSE(simulation_on());
    EXPECT_EQ(log(), "");
}

}  // namespace
}  // namespace vx::testing
