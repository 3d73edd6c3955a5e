#include "library_check.h"

#include "platform/dynamic_library.h"

#include <array>
#include <filesystem>
#include <system_error>

namespace vxdiag {

std::string explain_passthru_library_failure(const std::string& path) {
    if (path.empty()) return "no PassThru library path was given";
    const vx::platform::LibraryHandle library = vx::platform::load_library(path.c_str());
    if (library == nullptr) {
        const std::string reason = vx::platform::last_load_error();
        std::error_code error;
        if (!std::filesystem::exists(std::filesystem::path(path), error)) return path + ": no such file";
        return path + " cannot be loaded: " + reason;
    }

    // The seven entry points a J2534-1 04.04 library must export
    // (PassThruGetLastError is optional for the core).
    constexpr std::array<const char*, 7> kRequired{"PassThruOpen",     "PassThruClose",     "PassThruConnect",
                                                   "PassThruDisconnect", "PassThruReadMsgs", "PassThruWriteMsgs",
                                                   "PassThruIoctl"};
    std::string missing;
    for (const char* name : kRequired) {
        if (vx::platform::find_symbol(library, name) != nullptr) continue;
        missing += missing.empty() ? "" : ", ";
        missing += name;
    }
    vx::platform::free_library(library);
    if (missing.empty()) return {};
    return path + " lacks the SAE J2534-1 entry points " + missing;
}

PassThruLibraryKind passthru_library_kind(const std::string& path) {
    const vx::platform::LibraryHandle library = vx::platform::load_library(path.c_str());
    if (library == nullptr) return PassThruLibraryKind::Unloadable;
    const bool simulated = vx::platform::find_symbol(library, "sim_reset") != nullptr;
    vx::platform::free_library(library);
    return simulated ? PassThruLibraryKind::SimulatedVci : PassThruLibraryKind::Vendor;
}

}  // namespace vxdiag
