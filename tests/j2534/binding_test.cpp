// Loading, opening and releasing a PassThru library through the exports,
// with the simulated device loaded by path as a vendor library.
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "support/sim_device.h"

namespace vx::testing {
namespace {

namespace fs = std::filesystem;

using Binding = SimDeviceTest;

constexpr const char* kOpenHint =
    "If rc=8 / ERR_DEVICE_NOT_CONNECTED, connect and power the VCI, close other diagnostic "
    "software, then restart this app or press Check VCI again.";
constexpr const char* kLoadFailure =
    ",\"error\":\"Failed to load J2534 DLL or required exported functions.\"}";

// The two characters JSON escapes that occur in paths.
std::string in_json(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out;
}

std::string open_ok(unsigned long long device_id, const std::string& path) {
    return "{\"ok\":true,\"stage\":\"PassThruOpen\",\"deviceId\":" + std::to_string(device_id) +
           ",\"dll\":\"" + in_json(path) + "\"}";
}

std::string close_text() {
    char buffer[32];
    EXPECT_EQ(VX_CloseJ2534(buffer, sizeof buffer), 11);
    return buffer;
}

TEST_F(Binding, OpenBindsTheLibraryOpensTheDefaultDeviceAndLeavesSimulation) {
    VX_SetSimulation(1);
    clear_log_for_tests();
    j2534::device_state().kwp71_block_counter = 9;
    sim.sim_set_device_id(17);

    char buffer[512];
    const int length = VX_OpenJ2534Dll(sim.path().c_str(), buffer, sizeof buffer);

    const std::string expected = open_ok(17, sim.path());
    EXPECT_EQ(std::string(buffer), expected);
    EXPECT_EQ(length, static_cast<int>(expected.size()));
    EXPECT_EQ(log(), "2024-03-05 09:07:31 PassThruOpen OK dll=" + sim.path() + " deviceId=17\r\n");
    EXPECT_FALSE(simulation_on());
    EXPECT_EQ(j2534::device_state().device_id, 17u);
    EXPECT_EQ(j2534::device_state().library_path, sim.path());
    EXPECT_EQ(j2534::device_state().kwp71_block_counter, 9) << "open leaves the block counter alone";
    EXPECT_NE(j2534::device_state().entry.ioctl, nullptr);
    EXPECT_NE(j2534::device_state().entry.get_last_error, nullptr);

    const std::vector<sim_call> calls = sim.calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_STREQ(calls[0].name, "PassThruOpen");
    EXPECT_EQ(calls[0].name_was_null, 1) << "the default device is asked for with a null name";
}

TEST_F(Binding, CloseReleasesChannelThenDeviceIgnoringTheirStatusesAndTurnsSimulationOn) {
    ASSERT_EQ(open_device(), open_ok(1, sim.path()));
    j2534::device_state().channel_id = 2;  // as a connect leaves it
    j2534::device_state().ecu_init_confirmed = true;
    j2534::device_state().kwp71_block_counter = 40;
    sim.sim_set_status(SIM_FN_DISCONNECT, 7);
    sim.sim_set_status(SIM_FN_CLOSE, 8);
    sim.sim_clear_calls();
    clear_log_for_tests();

    EXPECT_EQ(close_text(), "{\"ok\":true}");

    EXPECT_EQ(sim.call_names(), (std::vector<std::string>{"PassThruDisconnect", "PassThruClose"}));
    EXPECT_EQ(sim.calls()[0].channel_id, 2u);
    EXPECT_EQ(sim.calls()[1].device_id, 1u);
    EXPECT_EQ(log(), "2024-03-05 09:07:31 PassThru closed\r\n");
    const j2534::DeviceState& state = j2534::device_state();
    EXPECT_EQ(state.channel_id, 0u);
    EXPECT_FALSE(state.ecu_init_confirmed);
    EXPECT_EQ(state.device_id, 0u);
    EXPECT_EQ(state.library, nullptr);
    EXPECT_EQ(state.library_path, "");
    EXPECT_EQ(state.entry.open, nullptr);
    EXPECT_EQ(state.entry.get_last_error, nullptr);
    EXPECT_TRUE(simulation_on());
    EXPECT_EQ(state.kwp71_block_counter, 1);
}

TEST_F(Binding, CloseWithoutAnOpenDeviceStillAnswersAndFollowsTheBufferConvention) {
    j2534::device_state().kwp71_block_counter = 3;
    char buffer[8];
    std::memset(buffer, 'Z', sizeof buffer);
    EXPECT_EQ(VX_CloseJ2534(buffer, 1), 11);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(buffer[1], 'Z');
    EXPECT_EQ(VX_CloseJ2534(nullptr, 0), 11);
    EXPECT_TRUE(simulation_on());
    EXPECT_EQ(j2534::device_state().kwp71_block_counter, 1);
    EXPECT_EQ(sim.sim_call_count(), 0u);
    EXPECT_EQ(log(),
              "2024-03-05 09:07:31 PassThru closed\r\n"
              "2024-03-05 09:07:31 PassThru closed\r\n");

    // The open result is cut the same way, and the length is still the whole.
    std::memset(buffer, 'Z', sizeof buffer);
    const int length = VX_OpenJ2534Dll(sim.path().c_str(), buffer, 1);
    EXPECT_EQ(length, static_cast<int>(open_ok(1, sim.path()).size()));
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(buffer[1], 'Z');
    EXPECT_EQ(j2534::device_state().device_id, 1u);
}

TEST_F(Binding, UnusablePathsGiveBindingCodesWithoutLogOrDevice) {
    const std::string missing = (fs::temp_directory_path() / "vx-no-such-device-library.bin").string();
    EXPECT_EQ(open_device(""),
              std::string("{\"ok\":false,\"stage\":\"LoadLibrary/GetProcAddress\",\"rc\":-100") + kLoadFailure);
    char buffer[256];
    VX_OpenJ2534Dll(nullptr, buffer, sizeof buffer);
    EXPECT_EQ(std::string(buffer),
              std::string("{\"ok\":false,\"stage\":\"LoadLibrary/GetProcAddress\",\"rc\":-100") + kLoadFailure);
    EXPECT_EQ(open_device(missing),
              std::string("{\"ok\":false,\"stage\":\"LoadLibrary/GetProcAddress\",\"rc\":-101") + kLoadFailure);
    EXPECT_EQ(j2534::device_state().library, nullptr);
    EXPECT_EQ(j2534::device_state().library_path, "");
    EXPECT_EQ(j2534::device_state().device_id, 0u);
    EXPECT_EQ(log(), "");
    EXPECT_EQ(sim.sim_call_count(), 0u);
}

TEST_F(Binding, ALibraryWithoutIoctlStaysBoundButOpensNoDeviceUntilTheNextUnload) {
    SimDevice no_ioctl(SimDevice::kNoIoctl);
    EXPECT_EQ(open_device(no_ioctl.path()),
              std::string("{\"ok\":false,\"stage\":\"LoadLibrary/GetProcAddress\",\"rc\":-102") + kLoadFailure);
    EXPECT_EQ(log(), "");
    EXPECT_EQ(no_ioctl.sim_call_count(), 0u) << "PassThruOpen must not be called";
    const j2534::DeviceState& state = j2534::device_state();
    EXPECT_EQ(state.device_id, 0u);
    EXPECT_NE(state.library, nullptr);
    EXPECT_EQ(state.library_path, no_ioctl.path());
    EXPECT_NE(state.entry.open, nullptr);
    EXPECT_NE(state.entry.get_last_error, nullptr);
    EXPECT_EQ(state.entry.ioctl, nullptr);

    close_text();
    EXPECT_EQ(state.library, nullptr);
    EXPECT_EQ(state.entry.open, nullptr);
    EXPECT_EQ(no_ioctl.sim_call_count(), 0u) << "nothing was open, so nothing is closed";
}

TEST_F(Binding, OpenFailureReportsStatusAndLibraryTextThenFreesTheLibrary) {
    VX_SetSimulation(1);
    clear_log_for_tests();
    sim.sim_set_status(SIM_FN_OPEN, 8);
    sim.set_last_error("No VCI on \"USB1\"\\n");

    const std::string detail = "ERR_DEVICE_NOT_CONNECTED: No VCI on \"USB1\"\\n";
    EXPECT_EQ(open_device(),
              "{\"ok\":false,\"stage\":\"PassThruOpen\",\"rc\":8,\"rcName\":\"ERR_DEVICE_NOT_CONNECTED\","
              "\"error\":\"" + in_json(detail) + "\",\"hint\":\"" + kOpenHint + "\"}");
    EXPECT_EQ(log(), "2024-03-05 09:07:31 PassThruOpen failed dll=" + sim.path() + " rc=8 " + detail + "\r\n");
    EXPECT_EQ(sim.call_names(), (std::vector<std::string>{"PassThruOpen", "PassThruGetLastError"}))
        << "the library text is fetched before the library is freed, and no device is closed";
    const j2534::DeviceState& state = j2534::device_state();
    EXPECT_EQ(state.library, nullptr);
    EXPECT_EQ(state.library_path, "");
    EXPECT_EQ(state.entry.get_last_error, nullptr);
    EXPECT_EQ(state.device_id, 0u);
    EXPECT_TRUE(simulation_on()) << "a failed open leaves the simulation switch as it was";
}

TEST_F(Binding, OpenFailureWithoutGetLastErrorShowsNameAndCode) {
    SimDevice no_last_error(SimDevice::kNoLastError);
    no_last_error.sim_set_status(SIM_FN_OPEN, 8);
    EXPECT_EQ(open_device(no_last_error.path()),
              "{\"ok\":false,\"stage\":\"PassThruOpen\",\"rc\":8,\"rcName\":\"ERR_DEVICE_NOT_CONNECTED\","
              "\"error\":\"ERR_DEVICE_NOT_CONNECTED (rc=8)\",\"hint\":\"" + std::string(kOpenHint) + "\"}");
    EXPECT_EQ(log(), "2024-03-05 09:07:31 PassThruOpen failed dll=" + no_last_error.path() +
                         " rc=8 ERR_DEVICE_NOT_CONNECTED (rc=8)\r\n");
    EXPECT_FALSE(simulation_on());
    EXPECT_EQ(j2534::device_state().library, nullptr);
}

TEST_F(Binding, StatusesOutsideTheJ2534RangeAreShownSignedAndUnknown) {
    // 0x80000005 from a library with 32-bit statuses is negative.
    sim.sim_queue_status(SIM_FN_OPEN, static_cast<long>(0x80000005UL));
    sim.sim_queue_status(SIM_FN_OPEN, -3);
    const std::string hint = std::string(",\"hint\":\"") + kOpenHint + "\"}";

    EXPECT_EQ(open_device(),
              "{\"ok\":false,\"stage\":\"PassThruOpen\",\"rc\":-2147483643,\"rcName\":\"ERR_UNKNOWN\","
              "\"error\":\"ERR_UNKNOWN (rc=-2147483643)\"" + hint);
    EXPECT_EQ(open_device(),
              "{\"ok\":false,\"stage\":\"PassThruOpen\",\"rc\":-3,\"rcName\":\"ERR_UNKNOWN\","
              "\"error\":\"ERR_UNKNOWN (rc=-3)\"" + hint);
    EXPECT_EQ(log(),
              "2024-03-05 09:07:31 PassThruOpen failed dll=" + sim.path() +
                  " rc=-2147483643 ERR_UNKNOWN (rc=-2147483643)\r\n"
                  "2024-03-05 09:07:31 PassThruOpen failed dll=" + sim.path() +
                  " rc=-3 ERR_UNKNOWN (rc=-3)\r\n");
}

TEST_F(Binding, ADeviceIdAbove2Pow31IsShownUnsigned) {
    sim.sim_set_device_id(4000000000UL);
    EXPECT_EQ(open_device(), open_ok(4000000000ULL, sim.path()));
    EXPECT_EQ(log(), "2024-03-05 09:07:31 PassThruOpen OK dll=" + sim.path() + " deviceId=4000000000\r\n");
    close_text();
    EXPECT_EQ(sim.calls_of(SIM_FN_CLOSE).at(0).device_id, 4000000000UL) << "passed back unchanged";
}

// A folder of the test's own, removed afterwards.
struct TempFolder {
    explicit TempFolder(const std::string& name) {
        std::random_device random;
        path = fs::temp_directory_path() / (name + std::to_string(random()));
        fs::create_directories(path);
    }
    ~TempFolder() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    fs::path path;
};

TEST_F(Binding, APathWithQuotesAndBackslashesIsEscapedInTheResultButNotInTheLog) {
#if defined(VXDIAG_TEST_ON_WINDOWS)
    // Windows names cannot hold quotes; its paths carry backslashes anyway.
    TempFolder folder("vx sim's device ");
#else
    TempFolder folder("vx \"sim\\device\" ");
#endif
    const fs::path copy = folder.path / fs::path(sim.path()).filename();
    fs::copy_file(fs::path(sim.path()), copy);
    SimDevice copied(copy.string());
    copied.sim_set_device_id(5);

    EXPECT_EQ(open_device(copied.path()), open_ok(5, copied.path()));
    EXPECT_NE(open_device(copied.path()).find(in_json(copied.path())), std::string::npos);
    EXPECT_NE(copied.path().find_first_of("\"\\"), std::string::npos) << copied.path();
    EXPECT_NE(log().find(" PassThruOpen OK dll=" + copied.path() + " deviceId=5\r\n"), std::string::npos);
    close_text();
}

TEST_F(Binding, ReopeningReleasesTheChannelAndDeviceBeforeLoadingAgain) {
    ASSERT_EQ(open_device(), open_ok(1, sim.path()));
    j2534::device_state().channel_id = 2;
    j2534::device_state().ecu_init_confirmed = true;
    sim.sim_set_device_id(6);

    EXPECT_EQ(open_device(), open_ok(6, sim.path()));

    EXPECT_EQ(sim.call_names(), (std::vector<std::string>{"PassThruOpen", "PassThruDisconnect",
                                                          "PassThruClose", "PassThruOpen"}));
    EXPECT_EQ(sim.calls()[1].channel_id, 2u);
    EXPECT_EQ(sim.calls()[2].device_id, 1u);
    EXPECT_EQ(j2534::device_state().device_id, 6u);
    EXPECT_EQ(j2534::device_state().channel_id, 0u);
    EXPECT_FALSE(j2534::device_state().ecu_init_confirmed);

    // An unusable path still releases what was open first.
    j2534::device_state().channel_id = 2;
    sim.sim_clear_calls();
    EXPECT_EQ(open_device(""),
              std::string("{\"ok\":false,\"stage\":\"LoadLibrary/GetProcAddress\",\"rc\":-100") + kLoadFailure);
    EXPECT_EQ(sim.call_names(), (std::vector<std::string>{"PassThruDisconnect", "PassThruClose"}));
    EXPECT_EQ(sim.calls()[1].device_id, 6u);
    EXPECT_EQ(j2534::device_state().device_id, 0u);
    EXPECT_EQ(j2534::device_state().channel_id, 0u);
    EXPECT_EQ(j2534::device_state().library, nullptr);
}

TEST_F(Binding, ANewlyOpenedDeviceHasNoChannelEvenAfterASimulatedConnect) {
    // A simulated connect made without a device leaves the placeholder
    // channel 1 with the initialisation confirmed; no library can disconnect it.
    set_simulation(true);
    j2534::device_state().channel_id = 1;
    j2534::device_state().ecu_init_confirmed = true;

    EXPECT_EQ(open_device(), open_ok(1, sim.path()));

    EXPECT_EQ(j2534::device_state().channel_id, 0u) << "commands must not go to a channel never connected";
    EXPECT_FALSE(j2534::device_state().ecu_init_confirmed);
    EXPECT_EQ(sim.call_names(), (std::vector<std::string>{"PassThruOpen"}));

    // A failed open does not hand the placeholder to the library's
    // PassThruDisconnect either: that library never gave out channel 1.
    close_text();
    j2534::device_state().channel_id = 1;
    j2534::device_state().ecu_init_confirmed = true;
    sim.sim_clear_calls();
    sim.sim_set_status(SIM_FN_OPEN, 8);
    EXPECT_NE(open_device().find("\"rc\":8"), std::string::npos);
    EXPECT_EQ(sim.call_names(), (std::vector<std::string>{"PassThruOpen", "PassThruGetLastError"}));
    EXPECT_EQ(j2534::device_state().channel_id, 1u);
    EXPECT_TRUE(j2534::device_state().ecu_init_confirmed);
    j2534::device_state().channel_id = 0;
    j2534::device_state().ecu_init_confirmed = false;
}

TEST_F(Binding, AnAbsolutePathFindsTheLibrarysDependenciesInItsOwnFolder) {
#if defined(VXDIAG_SIM_DEP_PATH)
    const std::string path = sim_native_path(VXDIAG_SIM_DEP_PATH);
    // The dependency is not on the program's own search path...
    ASSERT_EQ(platform::load_library("sim_dep.dll"), nullptr);
    // ...only beside the device library, where the core's load finds it.
    EXPECT_EQ(open_device(path), open_ok(1, path));
    close_text();
#else
    GTEST_SKIP() << "Windows DLL search order only";
#endif
}

}  // namespace
}  // namespace vx::testing
