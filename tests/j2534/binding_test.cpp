// Loading a PassThru library by the path a host passes: what the golden cases
// cannot show because it depends on the file system.
#include <filesystem>
#include <random>
#include <string>

#include "core/text_utils.h"
#include "platform/os.h"
#include "support/sim_device.h"

namespace vx::testing {
namespace {

namespace fs = std::filesystem;

using Binding = SimDeviceTest;

std::string open_ok(const std::string& path) {
    return R"({"ok":true,"stage":"PassThruOpen","deviceId":1,"dll":")" + json_escaped_text(path) + "\"}";
}

TEST_F(Binding, APathWithQuotesAndBackslashesIsEscapedInTheResultButNotInTheLog) {
    // Windows names cannot hold quotes; its paths carry backslashes anyway.
    const std::string name = platform::is_windows() ? "vx sim's device " : "vx \"sim\\device\" ";
    const fs::path folder = fs::temp_directory_path() / (name + std::to_string(std::random_device()()));
    fs::create_directories(folder);
    const fs::path copy = folder / fs::path(sim.path()).filename();
    fs::copy_file(fs::path(sim.path()), copy);
    {
        SimDevice copied(copy.string());
        EXPECT_EQ(open_device(copied.path()), open_ok(copied.path()));
        EXPECT_EQ(log(), "2024-03-05 09:07:31 PassThruOpen OK dll=" + copied.path() + " deviceId=1\r\n");
        VX_CloseJ2534(nullptr, 0);
    }
    fs::remove_all(folder);
}

TEST_F(Binding, AnAbsolutePathFindsTheLibrarysDependenciesInItsOwnFolder) {
#if defined(VXDIAG_SIM_DEP_PATH)
    const std::string path = sim_native_path(VXDIAG_SIM_DEP_PATH);
    // The dependency is not on the program's own search path...
    ASSERT_EQ(platform::load_library("sim_dep.dll"), nullptr);
    // ...only beside the device library, where the core's load finds it.
    EXPECT_EQ(open_device(path), open_ok(path));
#else
    GTEST_SKIP() << "Windows DLL search order only";
#endif
}

}  // namespace
}  // namespace vx::testing
