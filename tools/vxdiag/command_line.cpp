#include "command_line.h"

#include "step_catalogue.h"

#include <CLI/CLI.hpp>
#include <fmt/format.h>
#include <fmt/ranges.h>

#include <cstdio>
#include <iostream>

namespace vxdiag {

namespace {

constexpr const char* kDescription =
    "vxdiag: a command-line host for the VXArvessaDiagCore diagnostics core. Like the desktop host it "
    "loads the core library by its path at run time and calls its VX_ exports, which talk to an SAE "
    "J2534-1 04.04 PassThru device over the K-line (ISO 9141-2). Without --dll or --device it uses the "
    "simulated VCI built with the project, which has a simulated vehicle on its K-line.";

constexpr const char* kFooter =
    "Each step is shown as ok, warn (the export answered, but did not achieve its purpose: e.g. no ECU "
    "confirmed the initialisation or answered a read) or fail.\n"
    "Exit status: 0 when every step was ok, 1 when one warned or failed (or a library could not be "
    "loaded), 2 for a usage error, 130/143/129 after SIGINT/SIGTERM/SIGHUP. An interrupt lets the running "
    "step finish (a function runs to its stop frame), runs no further step and closes the device.\n"
    "Examples:\n"
    "  vxdiag demo\n"
    "  vxdiag run open connect:10400 init:0x33 battery faults close log\n"
    "  vxdiag --device 'Vendor VCI' run open connect init:0x33 kline-probe close\n"
    "  vxdiag --json run --steps session.txt\n"
    "  vxdiag serve --open\n"
    "Per-command help: vxdiag help demo, vxdiag help run (lists every step).";

class CommandLine {
public:
    CommandLine(const std::string& default_core, const std::string& default_dll) : app_(kDescription, "vxdiag") {
        options_.core_path = default_core;
        options_.dll_path = default_dll;
        app_.footer(kFooter);
        app_.require_subcommand(0, 1);
        // Global options may also follow the command: vxdiag run --json open ...
        app_.fallthrough();
        add_global_options(default_core, default_dll);
        add_commands();
    }

    ParsedCommandLine parse(int argc, char** argv);

private:
    void add_global_options(const std::string& default_core, const std::string& default_dll);
    void add_commands();
    int usage_error(const std::string& message) const;
    int parse_error(const CLI::ParseError& error);
    int print_help();
    Command command() const;
    std::string command_names() const;

    CLI::App app_;
    Options options_;
    std::string colour_ = "auto";
    bool show_version_ = false;
    CLI::App* demo_ = nullptr;
    CLI::App* run_ = nullptr;
    CLI::App* serve_ = nullptr;
    CLI::App* help_ = nullptr;
    std::string help_topic_;
};

void CommandLine::add_global_options(const std::string& default_core, const std::string& default_dll) {
    app_.add_option("--core", options_.core_path, "the core library to load")
        ->type_name("PATH")
        ->default_str(default_core);
    CLI::Option* dll =
        app_.add_option("--dll", options_.dll_path,
                        "the PassThru (J2534) library to open: a vendor's instead of the simulated VCI")
            ->type_name("PATH")
            ->default_str(default_dll);
    app_.add_option("--device", options_.device,
                    "open a registered PassThru library (see vxdiag devices): its key, or its name when unique")
        ->type_name("NAME|KEY")
        ->excludes(dll);
    app_.add_flag("--json", options_.json, "print each export's result text as it came back, one per line");
    app_.add_option("--color", colour_, "colour the readable lines: auto (on a terminal), always, never")
        ->type_name("WHEN")
        ->check(CLI::IsMember({"auto", "always", "never"}));
    app_.add_flag("--allow-warnings", options_.allow_warnings,
                  "exit 0 when steps only warned (and let -x go on past a warning)");
    app_.add_flag("--version", show_version_, "print vxdiag's version and the core's identification text and path");
}

void CommandLine::add_commands() {
    demo_ = app_.add_subcommand(
        "demo",
        "run a whole session in a host's order: list the registered libraries, open, connect, read the battery, "
        "faults and live data of the OBD ECU 0x33, then at the KWP71 ECU 0x10 the K-line and keepalive probes, a "
        "verified function, an actuator block and a fault-memory clear; close, and print the raw log");
    demo_->add_flag("--real-vehicle", options_.real_vehicle,
                    "run the demo through a PassThru library that is not the simulated VCI: it then sends its "
                    "actuator test and fault-memory clear to whatever vehicle is connected");
    demo_->footer("The PassThru library is --dll (default: the simulated VCI, which answers in real time; set "
                  "VXSIM_INSTANT=1 to skip the K-line timing). With a vendor library use 'vxdiag run' and the "
                  "steps you mean.");

    run_ = app_.add_subcommand("run", "run the given steps in order, in one process");
    CLI::Option* steps = run_->add_option("STEP", options_.step_texts, "the steps, each NAME or NAME:ARGUMENT")
                             ->type_name("");
    run_->add_option("--steps", options_.steps_file,
                     "read the steps from FILE, one per line (blank lines and lines starting with # are skipped)")
        ->type_name("FILE")
        ->excludes(steps);
    run_->add_flag("-x,--stop-on-failure", options_.stop_on_failure, "stop at the first step that is not ok");
    run_->footer(steps_help());

    serve_ = app_.add_subcommand(
        "serve", "serve the host's page on 127.0.0.1: Check VCI, connect, initialise, faults, diagnostic rows, live "
                 "data and the raw log in a browser, through the same steps as 'run'");
    serve_->add_option("--port", options_.port, "the port on 127.0.0.1 (default: any free port)")
        ->type_name("N")
        ->check(CLI::Range(0, 65535));
    serve_->add_flag("--open", options_.open_browser, "open the page in the default browser");
    serve_->add_option("--idle-seconds", options_.idle_seconds,
                       "close the device when the page sent nothing for this long (default 120)")
        ->type_name("S")
        ->check(CLI::Range(1, 86400));
    serve_->footer("vxdiag prints the page's address with a random token; only that address works, only from this "
                   "machine, and one page at a time owns the device. Ctrl-C lets a running function finish, closes "
                   "the device and exits 130 (SIGTERM: 143).");

    app_.add_subcommand("devices", "list the registered PassThru libraries (VX_ListJ2534Devices)");
    app_.add_subcommand("version", "print the core's identification text (VX_CoreVersion)");
    help_ = app_.add_subcommand("help", "print this help, or a command's");
    help_->add_option("COMMAND", help_topic_, "the command to explain")->type_name("");
}

std::string CommandLine::command_names() const {
    std::vector<std::string> names;
    for (const CLI::App* command : app_.get_subcommands({})) names.push_back(command->get_name());
    return fmt::format("{}", fmt::join(names, ", "));
}

int CommandLine::usage_error(const std::string& message) const {
    std::fprintf(stderr, "vxdiag: %s\nRun 'vxdiag --help' for usage.\n", message.c_str());
    return 2;
}

int CommandLine::parse_error(const CLI::ParseError& error) {
    if (error.get_exit_code() == 0) return app_.exit(error);  // --help
    const std::vector<std::string> extras = app_.remaining();
    if (app_.get_subcommands().empty() && dynamic_cast<const CLI::ExtrasError*>(&error) != nullptr && !extras.empty()) {
        return usage_error(fmt::format("unknown command '{}' (commands: {})", extras.front(), command_names()));
    }
    return usage_error(error.what());
}

int CommandLine::print_help() {
    // App::help() would explain the command that was given: "help" itself.
    if (help_topic_.empty()) {
        std::cout << app_.get_formatter()->make_help(&app_, "vxdiag", CLI::AppFormatMode::Normal);
        return 0;
    }
    for (const CLI::App* command : app_.get_subcommands({})) {
        if (command->get_name() == help_topic_) {
            std::cout << command->help("vxdiag");
            return 0;
        }
    }
    return usage_error(fmt::format("help: unknown command '{}' (commands: {})", help_topic_, command_names()));
}

Command CommandLine::command() const {
    if (show_version_) return Command::ProgramVersion;
    if (demo_->parsed()) return Command::Demo;
    if (run_->parsed()) return Command::Run;
    if (serve_->parsed()) return Command::Serve;
    if (app_.got_subcommand("devices")) return Command::Devices;
    return Command::Version;
}

ParsedCommandLine CommandLine::parse(int argc, char** argv) {
    ParsedCommandLine parsed;
    try {
        app_.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        parsed.exit_code = parse_error(error);
        return parsed;
    }
    if (help_->parsed()) {
        parsed.exit_code = print_help();
        return parsed;
    }
    if (!show_version_ && app_.get_subcommands().empty()) {
        parsed.exit_code = usage_error(fmt::format("a command is required: one of {}", command_names()));
        return parsed;
    }
    if (options_.core_path.empty()) {
        parsed.exit_code = usage_error("--core: the path is empty");
        return parsed;
    }
    if (run_->parsed() && options_.step_texts.empty() && options_.steps_file.empty()) {
        parsed.exit_code = usage_error("run: give the steps (STEP...) or a file that lists them (--steps FILE)");
        return parsed;
    }
    options_.colour = colour_ == "always" ? ColourChoice::Always
                      : colour_ == "never" ? ColourChoice::Never
                                           : ColourChoice::Auto;
    options_.command = command();
    parsed.options = options_;
    return parsed;
}

}  // namespace

ParsedCommandLine parse_command_line(int argc, char** argv, const std::string& default_core,
                                     const std::string& default_dll) {
    CommandLine command_line(default_core, default_dll);
    return command_line.parse(argc, argv);
}

}  // namespace vxdiag
