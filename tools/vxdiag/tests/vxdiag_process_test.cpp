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
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using vxdiag::test::ChildProcess;
using vxdiag::test::Launch;
using vxdiag::test::ProcessResult;

const fs::path kData = VXDIAG_TEST_DATA;
const std::map<std::string, int> kSignals = {{"SIGINT", SIGINT}, {"SIGTERM", SIGTERM}, {"SIGHUP", SIGHUP}};

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

    // A case of a table as it runs: vxdiag in tests/data, with a home of the
    // test's own (no registrations unless the case writes some), the simulated
    // vehicle without K-line timing unless "real_time", the case's "env"
    // (NAME=value) on top, on a "terminal" or with stdout to "stdout_file".
    Launch launch(const nlohmann::json& c) const {
        Launch launch{{VXDIAG_PROGRAM_PATH}, {}, kData.string(), c.value("terminal", false), c.value("stdout_file", "")};
        for (const std::string arg : c.at("args")) launch.args.push_back(expanded(arg));
        for (char** variable = environ; *variable != nullptr; ++variable) {
            const std::string text = *variable;
            if (!text.starts_with("HOME=") && !text.starts_with("VXSIM_") && !text.starts_with("NO_COLOR=")) {
                launch.environment.push_back(text);
            }
        }
        launch.environment.push_back("HOME=" + (scratch_ / "home").string());
        if (!c.value("real_time", false)) launch.environment.emplace_back("VXSIM_INSTANT=1");
        for (const std::string variable : c.value("env", nlohmann::json::array())) launch.environment.push_back(variable);
        return launch;
    }

    // Runs a session on a pseudo-terminal, whose progress line tells when
    // the function runs, and sends `signal` while it runs.
    static ProcessResult interrupted(const Launch& session, int signal) {
        ChildProcess child(session);
        EXPECT_TRUE(child.wait_for_output("running VX_RunSafeFunction"));
        child.send_signal(signal);
        if (signal == SIGINT) {  // a second Ctrl-C while the device closes
            EXPECT_TRUE(child.wait_for_output("vxdiag: interrupted"));
            child.send_signal(SIGINT);
        }
        return child.finish();
    }

    // Runs each case of a table in tests/data: the registration files it puts
    // in ~/.passthru (a number: that many spaces), how it runs (above), the
    // signal it gets while its function runs, the exit status, texts its
    // stdout and stderr must hold and texts neither may hold ({home}: the
    // test's HOME), the golden file of its stdout and the number of JSON
    // lines. A usage error (2) prints nothing on stdout.
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
            const Launch session = launch(c);
            const ProcessResult result = c.contains("signal") ? interrupted(session, kSignals.at(c["signal"]))
                                                              : ChildProcess(session).finish();
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
            if (c.contains("golden")) expect_golden(result, c["golden"]);
            // --json: each line is one object, as many as the case says.
            if (c.contains("json_lines")) {
                std::istringstream stream(result.out);
                std::size_t count = 0;
                for (std::string line; std::getline(stream, line); ++count) {
                    EXPECT_TRUE(nlohmann::json::parse(line, nullptr, false).is_object()) << name << ": " << line;
                }
                EXPECT_EQ(count, c["json_lines"].get<std::size_t>()) << name << "\n" << result.out;
            }
            if (c.at("exit") == 2) {
                EXPECT_TRUE(result.out.empty()) << name << ": nothing may run\n" << result.out;
            }
            // Not a terminal: no progress lines, no colour unless asked for.
            const bool styled = session.terminal || c.value("styled", false);
            EXPECT_TRUE(styled || (result.out + result.err).find_first_of("\r\x1b") == std::string::npos) << name;
        }
    }

    // Stdout as the golden file has it, with what differs from run to run
    // replaced; nothing on stderr.
    void expect_golden(const ProcessResult& result, const std::string& file) const {
        EXPECT_TRUE(result.err.empty()) << result.err;
        std::string shown = replaced(replaced(result.out, VXDIAG_SIM_PATH, "{sim}"), VXDIAG_CORE_PATH, "{core}");
        shown = replaced(shown, (scratch_ / "home").string(), "{home}");
        shown = std::regex_replace(shown, std::regex(R"(\(\d+\.\d\d s\))"), "(T s)");
        shown = std::regex_replace(shown, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)"), "TIME");
        if (std::getenv("VXDIAG_UPDATE_GOLDEN") != nullptr) std::ofstream(kData / file, std::ios::binary) << shown;
        EXPECT_EQ(shown, read_file(kData / file)) << file;
    }

    fs::path scratch_;
};

TEST_F(VxdiagProcess, CommandLineConventionsAndUsageErrors) { check_cases("usage.json"); }

TEST_F(VxdiagProcess, EachStepIsOkWarnOrFailAndTheExitStatusFollows) { check_cases("outcomes.json"); }

TEST_F(VxdiagProcess, DevicesExplainsTheRegistrationsDevicePicksOneAndAFailedWriteStops) { check_cases("devices.json"); }

// Progress and colour on a terminal; Ctrl-C, SIGTERM and SIGHUP let the
// running function finish, then close the device.
TEST_F(VxdiagProcess, OnATerminalProgressColourAndSignals) { check_cases("terminal.json"); }

}  // namespace
