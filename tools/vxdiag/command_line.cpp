#include "command_line.h"

#include "step_catalogue.h"

#include <CLI/CLI.hpp>

#include <cstdio>

namespace vxdiag {

namespace {

constexpr const char* kDescription =
    "vxdiag: a command-line host for the VXArvessaDiagCore diagnostics core. Like the desktop host it "
    "loads the core library by its path at run time and calls its VX_ exports, which talk to an SAE "
    "J2534-1 04.04 PassThru device over the K-line (ISO 9141-2). Without --dll it uses the simulated "
    "VCI built with the project, which has a simulated vehicle on its K-line.";

constexpr const char* kFooter =
    "Exit status: 0 when every step answered ok, 1 when one did not (or a library could not be loaded), "
    "2 for a usage error.\n"
    "Examples:\n"
    "  vxdiag demo\n"
    "  vxdiag run open connect:10400 init:0x33 battery faults close log\n"
    "  vxdiag --dll /opt/vci/libj2534.so run open connect init:0x33 kline-probe close\n"
    "  vxdiag --json demo\n"
    "Per-command help: vxdiag demo --help, vxdiag run --help (lists every step).";

}  // namespace

ParsedCommandLine parse_command_line(int argc, char** argv, const std::string& default_core,
                                     const std::string& default_dll) {
    Options options;
    options.core_path = default_core;
    options.dll_path = default_dll;

    CLI::App app(kDescription, "vxdiag");
    app.footer(kFooter);
    app.require_subcommand(1);
    // Global options may also follow the command: vxdiag run --json open ...
    app.fallthrough();

    app.add_option("--core", options.core_path, "the core library to load")
        ->type_name("PATH")
        ->default_str(default_core);
    app.add_option("--dll", options.dll_path,
                   "the PassThru (J2534) library to open: a vendor's instead of the simulated VCI")
        ->type_name("PATH")
        ->default_str(default_dll);
    app.add_flag("--json", options.json, "print each export's result text as it came back, one per line");
    std::string colour = "auto";
    app.add_option("--color", colour, "colour the readable lines: auto (on a terminal), always, never")
        ->type_name("WHEN")
        ->check(CLI::IsMember({"auto", "always", "never"}));

    CLI::App* demo = app.add_subcommand(
        "demo",
        "run a whole session in a host's order: list the registered libraries, open, connect, five-baud init "
        "(KWP71 ECU 0x10), K-line and KWP71 traffic probes, battery, faults, live data, a verified function, a "
        "KWP71 actuator block, a fault-memory clear, close, and print the raw log");
    demo->add_flag("--real-vehicle", options.real_vehicle,
                   "run the demo through a PassThru library that is not the simulated VCI: it then sends its "
                   "actuator test and fault-memory clear to whatever vehicle is connected");
    demo->footer("The PassThru library is --dll (default: the simulated VCI, which answers in real time; set "
                 "VXSIM_INSTANT=1 to skip the K-line timing). With a vendor library use 'vxdiag run' and the "
                 "steps you mean.");

    CLI::App* run = app.add_subcommand("run", "run the given steps in order, in one process");
    run->add_option("STEP", options.step_texts, "the steps, each NAME or NAME:ARGUMENT")
        ->type_name("")
        ->required()
        ->expected(1, -1);
    run->add_flag("-x,--stop-on-failure", options.stop_on_failure, "stop at the first step that is not ok");
    run->footer(steps_help());

    app.add_subcommand("devices", "list the registered PassThru libraries (VX_ListJ2534Devices)");
    app.add_subcommand("version", "print the core's identification text (VX_CoreVersion)");

    ParsedCommandLine parsed;
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        if (error.get_exit_code() == 0) {  // --help
            parsed.exit_code = app.exit(error);
            return parsed;
        }
        std::fprintf(stderr, "vxdiag: %s\nRun 'vxdiag --help' for usage.\n", error.what());
        parsed.exit_code = 2;
        return parsed;
    }

    options.colour = colour == "always" ? ColourChoice::Always
                     : colour == "never"  ? ColourChoice::Never
                                          : ColourChoice::Auto;
    if (options.core_path.empty()) {
        std::fputs("vxdiag: --core: the path is empty\n", stderr);
        parsed.exit_code = 2;
        return parsed;
    }
    if (demo->parsed()) {
        options.command = Command::Demo;
    } else if (run->parsed()) {
        options.command = Command::Run;
    } else if (app.got_subcommand("devices")) {
        options.command = Command::Devices;
    } else {
        options.command = Command::Version;
    }
    parsed.options = options;
    return parsed;
}

}  // namespace vxdiag
