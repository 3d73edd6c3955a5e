// vxdiag's command line: the commands, the global options and their help.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vxdiag {

enum class Command { Demo, Run, Devices, Version, ProgramVersion, Serve };

enum class ColourChoice { Auto, Always, Never };

struct Options {
    Command command = Command::Demo;
    std::string core_path;               // the core library to load
    std::string dll_path;                // the PassThru library "open" uses
    std::string device;                  // --device: a registered library, by key or name, instead
    bool json = false;                   // result texts as they came back
    ColourChoice colour = ColourChoice::Auto;
    bool stop_on_failure = false;        // run: stop at the first step not ok
    bool allow_warnings = false;         // warnings neither fail the run nor stop it
    bool real_vehicle = false;           // demo: allowed on a vendor library
    std::vector<std::string> step_texts; // run: the steps as written
    std::string steps_file;              // run: or the file that lists them
    unsigned port = 0;                   // serve: the port on 127.0.0.1 (0: any free one)
    bool open_browser = false;           // serve: open the page in the default browser
    unsigned idle_seconds = 120;         // serve: a silent page loses the device after this
};

struct ParsedCommandLine {
    std::optional<Options> options;  // absent when there is nothing to run
    int exit_code = 0;               // then: 0 after help, 2 after a usage error (1: help not written)
};

// Parses the command line; prints help (stdout) or the usage error naming the
// bad argument (stderr) itself. `default_core` and `default_dll` are the
// libraries built beside vxdiag.
ParsedCommandLine parse_command_line(int argc, char** argv, const std::string& default_core,
                                     const std::string& default_dll);

}  // namespace vxdiag
