// vxdiag: a command-line host for the diagnostics core.
//
// It loads the core library by its full path at run time, as the desktop host
// does, and calls its exports in the order a host does; `vxdiag --help`.
#include "command_line.h"
#include "core_library.h"
#include "demo_session.h"
#include "library_check.h"
#include "session.h"
#include "step_catalogue.h"

#include <fmt/format.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <unistd.h>
#include <vector>

#ifndef VXDIAG_DEFAULT_CORE_PATH
#  define VXDIAG_DEFAULT_CORE_PATH ""
#endif
#ifndef VXDIAG_DEFAULT_DLL_PATH
#  define VXDIAG_DEFAULT_DLL_PATH ""
#endif

namespace {

using vxdiag::Command;

bool use_colour(vxdiag::ColourChoice choice) {
    switch (choice) {
        case vxdiag::ColourChoice::Always: return true;
        case vxdiag::ColourChoice::Never: return false;
        case vxdiag::ColourChoice::Auto: break;
    }
    // https://no-color.org; a dumb terminal shows escape codes as text.
    if (std::getenv("NO_COLOR") != nullptr) return false;
    const char* term = std::getenv("TERM");
    if (term != nullptr && std::string(term) == "dumb") return false;
    return isatty(fileno(stdout)) != 0;
}

std::vector<vxdiag::Step> session_steps(const vxdiag::Options& options) {
    switch (options.command) {
        case Command::Demo: return vxdiag::demo_steps(options.dll_path);
        case Command::Devices: return {vxdiag::parse_step("devices", options.dll_path)};
        case Command::Version: return {vxdiag::parse_step("version", options.dll_path)};
        case Command::Run: break;
    }
    std::vector<vxdiag::Step> steps;
    for (const std::string& written : options.step_texts) {
        steps.push_back(vxdiag::parse_step(written, options.dll_path));
    }
    return steps;
}

int run(int argc, char** argv) {
    const vxdiag::ParsedCommandLine parsed =
        vxdiag::parse_command_line(argc, argv, VXDIAG_DEFAULT_CORE_PATH, VXDIAG_DEFAULT_DLL_PATH);
    if (!parsed.options) return parsed.exit_code;
    const vxdiag::Options& options = *parsed.options;

    std::vector<vxdiag::Step> steps;
    try {
        steps = session_steps(options);
    } catch (const vxdiag::UsageError& error) {
        fmt::print(stderr, "vxdiag: {}\n", error.what());
        return 2;
    }

    if (options.command == Command::Demo && !options.real_vehicle &&
        vxdiag::passthru_library_kind(options.dll_path) == vxdiag::PassThruLibraryKind::Vendor) {
        // The demo's frames are meant for the simulated vehicle; on a real car
        // they would run an actuator and wipe its fault memory.
        fmt::print(stderr,
                   "vxdiag: demo: --dll {} is not the simulated VCI, and the demo sends an actuator test and a "
                   "fault-memory clear meant for the simulated vehicle. Use 'vxdiag run' with the steps you "
                   "mean, or add --real-vehicle.\n",
                   options.dll_path);
        return 2;
    }

    std::string error;
    const auto core = vxdiag::CoreLibrary::load(options.core_path, error);
    if (core == nullptr) {
        fmt::print(stderr, "vxdiag: cannot load the core library {}: {}\n", options.core_path, error);
        return 1;
    }

    vxdiag::SessionOptions session;
    session.json = options.json;
    session.style.colour = !options.json && use_colour(options.colour);
    session.stop_on_failure = options.stop_on_failure;
    if (options.command == Command::Demo && !options.json) {
        fmt::print("vxdiag demo\n  core library      {}\n  PassThru library  {}\n", options.core_path,
                   options.dll_path);
        std::fflush(stdout);
    }
    return vxdiag::run_session(*core, steps, session);
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "vxdiag: %s\n", error.what());
        return 1;
    }
}
