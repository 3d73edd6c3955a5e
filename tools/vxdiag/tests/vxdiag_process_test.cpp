// vxdiag end to end: the built program runs as a process, as a person or a
// script runs it, against the built core and the simulated VCI (its K-line
// timing skipped with VXSIM_INSTANT=1 unless a test needs real time), and its
// exit status, output lines and messages are checked. Expected texts live in
// tests/data: tables of command lines and what they must print, and golden
// outputs (VXDIAG_UPDATE_GOLDEN=1 rewrites those).
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

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

struct ProcessResult {
    int exit_code = -1;  // 128 + the signal number when a signal ended it
    std::string out;
    std::string err;     // empty on a terminal: both streams are in `out`
};

// A program as a child process in tests/data, its output read while it runs,
// signals sent to it by pid. args[0] is the program's path, the environment
// (NAME=value) its whole one; stdout and stderr go to pipes, or both to one
// pseudo-terminal, or stdout to a file when one is named.
class ChildProcess {
public:
    ChildProcess(const std::vector<std::string>& args, const std::vector<std::string>& environment, bool terminal,
                 const std::string& stdout_file) {
        int out[2] = {-1, -1};
        int err[2] = {-1, -1};
        if (terminal) {
            if (openpty(&out[0], &out[1], nullptr, nullptr, nullptr) != 0) return;
            err[1] = dup(out[1]);
        } else if (pipe(out) != 0 || pipe(err) != 0) {
            return;
        }
        if (!stdout_file.empty()) {
            close(out[1]);
            out[1] = open(stdout_file.c_str(), O_WRONLY);
        }
        std::vector<char*> argv;
        std::vector<char*> envp;
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        for (const std::string& variable : environment) envp.push_back(const_cast<char*>(variable.c_str()));
        argv.push_back(nullptr);
        envp.push_back(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], STDOUT_FILENO);
            dup2(err[1], STDERR_FILENO);
            if (chdir(kData.c_str()) == 0) execve(argv[0], argv.data(), envp.data());
            _exit(127);
        }
        close(out[1]);
        close(err[1]);
        fds_[0] = out[0];
        fds_[1] = err[0];
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess() {
        if (pid_ <= 0) return;
        kill(pid_, SIGKILL);
        finish();
    }

    // Reads stdout until it holds `text`; false when the child closed it first.
    bool wait_for_output(const std::string& text) {
        while (result_.out.find(text) == std::string::npos) {
            if (!read_some()) return false;
        }
        return true;
    }
    void send_signal(int number) const { kill(pid_, number); }

    ProcessResult finish() {
        while (read_some()) continue;
        int status = 0;
        if (pid_ > 0 && waitpid(pid_, &status, 0) == pid_) {
            result_.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        pid_ = -1;
        return result_;
    }

private:
    // Waits for output on either stream and appends it; false once both ended
    // (a pseudo-terminal answers EIO when the child's side is closed).
    bool read_some() {
        pollfd polled[2] = {{fds_[0], POLLIN, 0}, {fds_[1], POLLIN, 0}};
        if (fds_[0] < 0 && fds_[1] < 0) return false;
        if (poll(polled, 2, -1) < 0) return true;
        std::string* const into[2] = {&result_.out, &result_.err};
        for (int i = 0; i < 2; ++i) {
            if (fds_[i] < 0 || polled[i].revents == 0) continue;
            char chunk[4096];
            const ssize_t got = read(fds_[i], chunk, sizeof chunk);
            if (got > 0) {
                into[i]->append(chunk, static_cast<std::size_t>(got));
            } else {
                close(fds_[i]);
                fds_[i] = -1;
            }
        }
        return true;
    }

    pid_t pid_ = -1;
    int fds_[2] = {-1, -1};
    ProcessResult result_;
};

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
    // With a "signal", on a terminal, whose progress line tells when the
    // function runs, the signal comes while it runs.
    ProcessResult run(const nlohmann::json& c) const {
        std::vector<std::string> args{VXDIAG_PROGRAM_PATH};
        for (const std::string arg : c.at("args")) args.push_back(expanded(arg));
        std::vector<std::string> environment{"HOME=" + (scratch_ / "home").string()};
        for (char** variable = environ; *variable != nullptr; ++variable) {
            const std::string text = *variable;
            if (!text.starts_with("HOME=") && !text.starts_with("VXSIM_") && !text.starts_with("NO_COLOR=")) {
                environment.push_back(text);
            }
        }
        if (!c.value("real_time", false)) environment.emplace_back("VXSIM_INSTANT=1");
        for (const std::string variable : c.value("env", nlohmann::json::array())) environment.push_back(variable);
        ChildProcess child(args, environment, c.value("terminal", false), c.value("stdout_file", ""));
        if (c.contains("signal")) {
            const int signal = kSignals.at(c["signal"]);
            EXPECT_TRUE(child.wait_for_output("running VX_RunSafeFunction"));
            child.send_signal(signal);
            if (signal == SIGINT) {  // a second Ctrl-C while the device closes
                EXPECT_TRUE(child.wait_for_output("vxdiag: interrupted"));
                child.send_signal(SIGINT);
            }
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
            const ProcessResult result = run(c);
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
            const bool styled = c.value("terminal", false) || c.value("styled", false);
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
