// vxdiag end to end: the built program runs as a process, as a person or a
// script runs it, against the built core and the simulated VCI (its K-line
// timing skipped with VXSIM_INSTANT=1 unless a test needs real time), and its
// exit status, output lines and messages are checked. Expected texts live in
// tests/data: tables of command lines and what they must print, and golden
// outputs (VXDIAG_UPDATE_GOLDEN=1 rewrites those).
#include "process_runner.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using vxdiag::test::ChildProcess;
using vxdiag::test::Launch;
using vxdiag::test::ProcessResult;

const fs::path kData = VXDIAG_TEST_DATA;

std::string read_file(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

// The lines as a terminal shows them: a carriage return starts the line anew.
std::vector<std::string> screen_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        while (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line.substr(line.find_last_of('\r') + 1));
    }
    return lines;
}

std::string function_step(int run_ms) {
    return R"(safe-function:{"name":"Idle speed valve","mode":"verified","startHex":"04 01 04 01 03",)"
           R"("stopHex":"04 03 04 00 03","maxRunMs":)" +
           std::to_string(run_ms) + "}";
}

class VxdiagProcess : public ::testing::Test {
protected:
    void SetUp() override {
        scratch_ = fs::path(VXDIAG_TEST_SCRATCH) / ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(scratch_);
        fs::create_directories(scratch_ / "home");
    }

    // The placeholders of the data files: the built libraries.
    static std::string expanded(const std::string& text) {
        const std::string libraries = replaced(replaced(text, "{core}", VXDIAG_CORE_PATH), "{sim}", VXDIAG_SIM_PATH);
        return replaced(libraries, "{no_ioctl}", VXDIAG_SIM_NO_IOCTL_PATH);
    }

    // vxdiag in tests/data, with a home of the test's own (no registrations
    // unless the test writes some), the simulated vehicle without K-line
    // timing unless `real_time`, and `environment` (NAME=value) on top.
    Launch launch(const std::vector<std::string>& args, const std::vector<std::string>& environment = {},
                  bool real_time = false) const {
        Launch launch{{VXDIAG_PROGRAM_PATH}, {}, kData.string(), false, {}};
        for (const std::string& arg : args) launch.args.push_back(expanded(arg));
        for (char** variable = environ; *variable != nullptr; ++variable) {
            const std::string text = *variable;
            if (!text.starts_with("HOME=") && !text.starts_with("VXSIM_") && !text.starts_with("NO_COLOR=")) {
                launch.environment.push_back(text);
            }
        }
        launch.environment.push_back("HOME=" + (scratch_ / "home").string());
        if (!real_time) launch.environment.emplace_back("VXSIM_INSTANT=1");
        launch.environment.insert(launch.environment.end(), environment.begin(), environment.end());
        return launch;
    }

    ProcessResult run(const std::vector<std::string>& args, const std::vector<std::string>& environment = {}) const {
        return ChildProcess(launch(args, environment)).finish();
    }

    // Runs each case of a table in tests/data: the registration files it puts
    // in ~/.passthru (a number: that many spaces), its command line,
    // environment and stdout file, the exit status, texts its stdout and
    // stderr must hold and texts neither may hold ({home}: the test's HOME).
    // A usage error (2) prints nothing on stdout.
    void check_cases(const char* table) const {
        const fs::path folder = scratch_ / "home" / ".passthru";
        for (const nlohmann::json& c : nlohmann::json::parse(read_file(kData / table))) {
            using Texts = std::vector<std::string>;
            fs::remove_all(folder);
            const nlohmann::json files = c.value("passthru", nlohmann::json::object());
            for (const auto& [file, text] : files.items()) {
                fs::create_directories(folder);
                std::ofstream(folder / file)
                    << (text.is_number() ? std::string(text.get<std::size_t>(), ' ') : expanded(text.get<std::string>()));
            }
            Launch session = launch(c.at("args").get<Texts>(), c.value("env", Texts{}));
            session.stdout_file = c.value("stdout_file", "");
            const ProcessResult result = ChildProcess(session).finish();
            const std::string name = c.value("name", c.at("args").dump());
            EXPECT_EQ(result.exit_code, c.at("exit").get<int>()) << name << "\n" << result.out << result.err;
            for (const auto& [stream, shown] : {std::pair{"stdout", &result.out}, std::pair{"stderr", &result.err}}) {
                for (const std::string& text : c.value(stream, Texts{})) {
                    const std::string here = replaced(expanded(text), "{home}", (scratch_ / "home").string());
                    EXPECT_NE(shown->find(here), std::string::npos) << name << ": " << text << "\n" << *shown;
                }
            }
            for (const std::string& text : c.value("absent", Texts{})) {
                EXPECT_EQ((result.out + result.err).find(text), std::string::npos) << name << ": " << text;
            }
            if (c.at("exit") == 2) {
                EXPECT_TRUE(result.out.empty()) << name << ": nothing may run\n" << result.out;
            }
            // Not a terminal: no progress lines, no colour.
            EXPECT_EQ((result.out + result.err).find_first_of("\r\x1b"), std::string::npos) << name;
        }
    }

    fs::path scratch_;
};

TEST_F(VxdiagProcess, CommandLineConventionsAndUsageErrors) { check_cases("usage.json"); }

TEST_F(VxdiagProcess, EachStepIsOkWarnOrFailAndTheExitStatusFollows) { check_cases("outcomes.json"); }

TEST_F(VxdiagProcess, DevicesExplainsTheRegistrationsDevicePicksOneAndAFailedWriteStops) {
    check_cases("devices.json");
}

TEST_F(VxdiagProcess, DemoRunsEveryStepOkAndShowsDecodedFaultsAndLiveData) {
    const ProcessResult result = run({"demo"});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_TRUE(result.err.empty()) << result.err;

    std::string shown = replaced(replaced(result.out, VXDIAG_SIM_PATH, "{sim}"), VXDIAG_CORE_PATH, "{core}");
    shown = replaced(shown, (scratch_ / "home").string(), "{home}");
    shown = std::regex_replace(shown, std::regex(R"(\(\d+\.\d\d s\))"), "(T s)");
    shown = std::regex_replace(shown, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)"), "TIME");
    const fs::path golden = kData / "demo.txt";
    if (std::getenv("VXDIAG_UPDATE_GOLDEN") != nullptr) std::ofstream(golden, std::ios::binary) << shown;
    EXPECT_EQ(shown, read_file(golden));
}

TEST_F(VxdiagProcess, JsonPrintsTheCoreTextsUnchanged) {
    const ProcessResult result = run({"--json", "demo"});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    const std::vector<std::string> lines = screen_lines(result.out);
    ASSERT_EQ(lines.size(), 15u) << result.out;
    for (const std::string& line : lines) EXPECT_TRUE(nlohmann::json::parse(line, nullptr, false).is_object()) << line;
    // The fault read as the core answered it: the raw reply, no decoding.
    const nlohmann::json faults = nlohmann::json::parse(lines[5]);
    EXPECT_EQ(faults["rx"][0]["hex"], "48 6B 10 43 01 33 03 00 00 00 3D");
    EXPECT_EQ(faults["faults"], nlohmann::json::array());
    EXPECT_EQ(lines[13], R"({"ok":true})");  // VX_CloseJ2534
    EXPECT_NE(nlohmann::json::parse(lines[14])["rawLog"].get<std::string>().find(" PassThru closed\r\n"),
              std::string::npos);
}

TEST_F(VxdiagProcess, OnATerminalLongStepsShowProgressAndColourFollowsNoColor) {
    Launch busy = launch({"run", "open", "connect", "init:0x10", function_step(800)}, {"NO_COLOR="});
    busy.terminal = true;
    const ProcessResult shown = ChildProcess(busy).finish();
    EXPECT_EQ(shown.exit_code, 0) << shown.out;
    EXPECT_NE(shown.out.find("\r  running VX_RunSafeFunction(Idle speed valve)  0."), std::string::npos) << shown.out;
    EXPECT_NE(shown.out.find("\x1b["), std::string::npos) << "NO_COLOR set but empty does not count";

    Launch plain = launch({"version"}, {"NO_COLOR=1"});
    plain.terminal = true;
    EXPECT_EQ(ChildProcess(plain).finish().out.find("\x1b["), std::string::npos);
    EXPECT_NE(run({"--color", "always", "version"}).out.find("\x1b["), std::string::npos);
}

// Real time, as on a car: the init takes about 2 s, then the function runs for
// 2 s between its start and stop frames. SIGINT (twice) lands in that time.
TEST_F(VxdiagProcess, SigintLetsTheRunningFunctionFinishThenClosesTheDevice) {
    Launch session =
        launch({"--json", "run", "open", "connect", "init:0x10", function_step(2000), "battery"}, {}, true);
    session.terminal = true;  // the progress line tells when the function runs
    ChildProcess child(session);
    ASSERT_TRUE(child.wait_for_output("running VX_RunSafeFunction"));
    child.send_signal(SIGINT);
    ASSERT_TRUE(child.wait_for_output("vxdiag: interrupted"));
    child.send_signal(SIGINT);
    const ProcessResult result = child.finish();

    EXPECT_EQ(result.exit_code, 130);
    const std::size_t note = result.out.find("vxdiag: interrupted");
    EXPECT_TRUE(note != std::string::npos && note > 0 && result.out[note - 1] == '\n')
        << "the note starts a line of its own, not at the end of the progress line";
    EXPECT_NE(result.out.find("still waiting for the running ECU function to finish and the device to close"),
              std::string::npos);
    std::vector<std::string> results;
    for (const std::string& line : screen_lines(result.out)) {
        if (line.starts_with("{")) results.push_back(line);
    }
    ASSERT_EQ(results.size(), 5u) << result.out;  // open, connect, init, the function, the close: no battery
    const nlohmann::json function = nlohmann::json::parse(results[3]);
    EXPECT_EQ(function["stage"], "verified-command");
    EXPECT_EQ(function["stopMessagesWritten"], 1);
    EXPECT_EQ(results[4], R"({"ok":true})");
}

TEST_F(VxdiagProcess, SigtermAndSighupAlsoFinishTheStepAndCloseTheDevice) {
    for (const auto& [number, code, name] : {std::tuple{SIGTERM, 143, "SIGTERM"}, std::tuple{SIGHUP, 129, "SIGHUP"}}) {
        Launch session =
            launch({"--color", "never", "run", "open", "connect", "init:0x10", function_step(1500), "battery"});
        session.terminal = true;
        ChildProcess child(session);
        ASSERT_TRUE(child.wait_for_output("running VX_RunSafeFunction"));
        child.send_signal(number);
        const ProcessResult result = child.finish();
        EXPECT_EQ(result.exit_code, code) << result.out;
        EXPECT_NE(result.out.find("stop TX 04 03 04 00 03 STATUS_NOERROR written 1"), std::string::npos) << result.out;
        EXPECT_NE(result.out.find("ok   VX_CloseJ2534()"), std::string::npos);
        EXPECT_NE(result.out.find(std::string("; interrupted by ") + name + ", 1 steps not run"), std::string::npos);
        EXPECT_EQ(result.out.find("VX_ReadBatteryVoltage"), std::string::npos);
    }
}

}  // namespace
