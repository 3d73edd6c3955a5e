// vxdiag: a command-line host for the diagnostics core.
//
// It loads the core library by its full path at run time, as the desktop host
// does, and calls its exports in the order a host does; `vxdiag --help`.
#include "command_line.h"
#include "console_output.h"
#include "core_library.h"
#include "demo_session.h"
#include "device_choice.h"
#include "host_console.h"
#include "library_check.h"
#include "session.h"
#include "step_catalogue.h"
#include "user_files.h"
#include "web_server.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#ifndef VXDIAG_DEFAULT_CORE_PATH
#  define VXDIAG_DEFAULT_CORE_PATH ""
#endif
#ifndef VXDIAG_DEFAULT_DLL_PATH
#  define VXDIAG_DEFAULT_DLL_PATH ""
#endif
#ifndef VXDIAG_INSTALLED_CORE_PATH
#  define VXDIAG_INSTALLED_CORE_PATH ""
#endif
#ifndef VXDIAG_INSTALLED_DLL_PATH
#  define VXDIAG_INSTALLED_DLL_PATH ""
#endif
#ifndef VXDIAG_VERSION
#  define VXDIAG_VERSION "unknown"
#endif

namespace {

using vxdiag::Command;

bool use_colour(vxdiag::ColourChoice choice) {
    switch (choice) {
        case vxdiag::ColourChoice::Always: return true;
        case vxdiag::ColourChoice::Never: return false;
        case vxdiag::ColourChoice::Auto: break;
    }
    // https://no-color.org: set and not empty. A dumb terminal shows escape
    // codes as text.
    const char* no_colour = std::getenv("NO_COLOR");
    if (no_colour != nullptr && *no_colour != '\0') return false;
    const char* term = std::getenv("TERM");
    if (term != nullptr && std::string(term) == "dumb") return false;
    return vx::platform::is_terminal(stdout);
}

// The library that an installed vxdiag finds beside itself (relative to its
// own folder, where `cmake --install` puts it), else the one it was built with.
std::string default_library(const char* installed_relative, const char* built) {
    const std::filesystem::path program = vx::platform::executable_path();
    if (!program.empty() && *installed_relative != '\0') {
        std::error_code error;
        const std::filesystem::path installed = program.parent_path() / installed_relative;
        if (std::filesystem::exists(installed, error)) return installed.lexically_normal().string();
    }
    return built;
}

std::vector<vxdiag::Step> steps_from_file(const std::string& file) {
    std::vector<vxdiag::Step> steps;
    for (const vxdiag::StepLine& line : vxdiag::step_lines(vxdiag::read_user_file(file, "--steps"))) {
        try {
            steps.push_back(vxdiag::parse_step(line.text));
        } catch (const vxdiag::UsageError& error) {
            throw vxdiag::UsageError(fmt::format("{} line {}: {}", file, line.number, error.what()));
        }
    }
    if (steps.empty()) throw vxdiag::UsageError(fmt::format("--steps '{}': the file lists no step", file));
    return steps;
}

// The steps to run; throws UsageError.
std::vector<vxdiag::Step> session_steps(const vxdiag::Options& options) {
    switch (options.command) {
        case Command::Demo: return vxdiag::demo_steps();
        case Command::Devices: return {vxdiag::parse_step("devices")};
        case Command::Version: return {vxdiag::parse_step("version")};
        case Command::ProgramVersion:
        case Command::Serve: return {};
        case Command::Run: break;
    }
    if (!options.steps_file.empty()) return steps_from_file(options.steps_file);
    std::vector<vxdiag::Step> steps;
    for (const std::string& written : options.step_texts) steps.push_back(vxdiag::parse_step(written));
    return steps;
}

std::unique_ptr<vxdiag::CoreLibrary> load_core(const std::string& path) {
    std::string error;
    auto core = vxdiag::CoreLibrary::load(path, error);
    if (core == nullptr) vxdiag::print_note(fmt::format("cannot load the core library {}: {}", path, error));
    return core;
}

int print_program_version(const std::string& core_path) {
    vxdiag::print_line(fmt::format("vxdiag {}", VXDIAG_VERSION));
    const auto core = load_core(core_path);
    if (core == nullptr || !core->exports("VX_CoreVersion")) return 1;
    const char* identification = core->api().core_version();
    vxdiag::print_line(fmt::format("core: {}", identification != nullptr ? identification : ""));
    vxdiag::print_line(fmt::format("core library: {}", core->path()));
    return 0;
}

// The demo's frames are meant for the simulated vehicle; on a real car they
// would run an actuator and wipe its fault memory.
bool demo_refused(const vxdiag::Options& options, const std::string& library) {
    if (options.command != Command::Demo || options.real_vehicle ||
        vxdiag::passthru_library_kind(library) != vxdiag::PassThruLibraryKind::Vendor) {
        return false;
    }
    vxdiag::print_note(fmt::format(
        "demo: {} is not the simulated VCI, and the demo sends an actuator test and a fault-memory clear meant "
        "for the simulated vehicle. Use 'vxdiag run' with the steps you mean, or add --real-vehicle.",
        library));
    return true;
}

vxdiag::SessionOptions session_options(const vxdiag::Options& options) {
    vxdiag::SessionOptions session;
    session.json = options.json;
    session.style.colour = !options.json && use_colour(options.colour);
    session.stop_on_failure = options.stop_on_failure;
    session.allow_warnings = options.allow_warnings;
    session.progress = vx::platform::is_terminal(stderr);
    return session;
}

int serve_page(const vxdiag::Options& options) {
    const auto core = load_core(options.core_path);
    if (core == nullptr) return 1;
    vxdiag::Session chooser(*core, {}, options.dll_path);
    if (!options.device.empty()) chooser.choose_registered_library(options.device);
    vxdiag::ServeOptions serve;
    serve.port = static_cast<std::uint16_t>(options.port);
    serve.open_browser = options.open_browser;
    serve.idle_seconds = options.idle_seconds;
    return vxdiag::serve(*core, chooser.library(), serve);
}

int run_steps(const vxdiag::Options& options) {
    if (options.command == Command::Serve) return serve_page(options);
    const std::vector<vxdiag::Step> steps = session_steps(options);  // usage errors before loading anything
    const auto open_without_path = std::find_if(steps.begin(), steps.end(), [](const vxdiag::Step& step) {
        return step.kind == vxdiag::StepKind::Open && step.text.empty();
    });
    if (options.dll_path.empty() && options.device.empty() && open_without_path != steps.end()) {
        throw vxdiag::UsageError("step '" + open_without_path->as_written + "': the library path is empty");
    }
    const auto core = load_core(options.core_path);
    if (core == nullptr) return 1;
    vxdiag::Session session(*core, session_options(options), options.dll_path);
    if (!options.device.empty()) session.choose_registered_library(options.device);
    if (demo_refused(options, session.library())) return 2;

    if (options.command == Command::Demo && !options.json) {
        vxdiag::print_line(fmt::format("vxdiag demo\n  core library      {}\n  PassThru library  {}", options.core_path,
                                       session.library()));
    }
    return session.run(steps);
}

int run(int argc, char** argv) {
    vx::platform::install_interrupt_handlers(
        "vxdiag: interrupted: the running step finishes, no further step runs, then the device is closed\n",
        "vxdiag: still waiting for the running ECU function to finish and the device to close (not aborting)\n");
    const vxdiag::ParsedCommandLine parsed =
        vxdiag::parse_command_line(argc, argv, default_library(VXDIAG_INSTALLED_CORE_PATH, VXDIAG_DEFAULT_CORE_PATH),
                                   default_library(VXDIAG_INSTALLED_DLL_PATH, VXDIAG_DEFAULT_DLL_PATH));
    if (!parsed.options) return parsed.exit_code;
    if (parsed.options->command == Command::ProgramVersion) return print_program_version(parsed.options->core_path);
    try {
        return run_steps(*parsed.options);
    } catch (const vxdiag::UsageError& error) {
        vxdiag::print_note(error.what());
        return 2;
    }
}

}  // namespace

int main(int argc, char** argv) {
    int status = 1;
    try {
        status = run(argc, argv);
        // Everything printed must have reached its reader (a full disk, a
        // closed pipe): a status of 0 would claim otherwise.
        if (!vxdiag::stdout_ok() && status == 0) {
            vxdiag::print_note(fmt::format("cannot write the output: {}", vxdiag::stdout_error()));
            status = 1;
        }
    } catch (const std::exception& error) {
        vxdiag::print_note(error.what());
    } catch (...) {
        vxdiag::print_note("stopped by an unexpected error");
    }
    vx::platform::interrupt_cleanup_finished();
    return status;
}
