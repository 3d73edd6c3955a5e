// vxdiag end to end: the built program runs as a process, as a person or a
// script runs it, against the built core and the simulated VCI (its K-line
// timing skipped with VXSIM_INSTANT=1), and its exit status, output lines and
// messages are checked.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "platform/environment.h"

namespace {

namespace fs = std::filesystem;

struct ProcessResult {
    int exit_code = -1;
    std::string out;
    std::string err;
};

std::string shell_quoted(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

std::string read_file(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    return lines;
}

// The line of the report that starts with this status and call, or "".
std::string report_line(const std::string& out, const std::string& status, const std::string& call) {
    for (const std::string& line : lines_of(out)) {
        if (line.rfind(status, 0) == 0 && line.find(call) != std::string::npos) return line;
    }
    return {};
}

class VxdiagProcess : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        scratch_ = fs::path(VXDIAG_TEST_SCRATCH) / info->name();
        fs::remove_all(scratch_);
        fs::create_directories(scratch_ / "home");
    }

    // Runs vxdiag with a home of the test's own (no registrations unless the
    // test writes some), the simulated vehicle without K-line timing, and
    // `environment` (NAME=value words) on top.
    ProcessResult run(const std::vector<std::string>& args, const std::string& environment = "") {
        std::string command = "env -u VXSIM_NO_DEVICE -u VXSIM_PROFILE -u NO_COLOR HOME=" +
                              shell_quoted((scratch_ / "home").string()) + " VXSIM_INSTANT=1 " + environment + " " +
                              shell_quoted(VXDIAG_PROGRAM_PATH);
        for (const std::string& arg : args) command += " " + shell_quoted(arg);
        const fs::path out = scratch_ / "stdout.txt";
        const fs::path err = scratch_ / "stderr.txt";
        command += " >" + shell_quoted(out.string()) + " 2>" + shell_quoted(err.string()) + " </dev/null";
        ProcessResult result;
        result.exit_code = vx::platform::run_program(command);
        result.out = read_file(out);
        result.err = read_file(err);
        return result;
    }

    fs::path scratch_;
};

TEST_F(VxdiagProcess, DemoRunsAWholeSessionAgainstTheSimulatedVehicle) {
    // Given the simulated VCI with its vehicle, when the demo runs,
    const ProcessResult result = run({"demo"});

    // then every step answered ok and the exit status says so;
    EXPECT_EQ(result.exit_code, 0) << result.out << result.err;
    EXPECT_NE(result.out.find("vxdiag: all 14 steps answered ok"), std::string::npos) << result.out;
    EXPECT_TRUE(result.err.empty()) << result.err;
    // not a terminal: no colour codes
    EXPECT_EQ(result.out.find('\x1b'), std::string::npos);

    // the KWP71 ECU woke with its key bytes,
    EXPECT_NE(report_line(result.out, "ok", "VX_TryFiveBaudInit(0x10)").find("confirmed, key bytes 01 8A"),
              std::string::npos)
        << result.out;
    // the device opened and the channel reported the battery,
    EXPECT_NE(report_line(result.out, "ok", "VX_OpenJ2534Dll(").find("device 1 opened"), std::string::npos);
    EXPECT_NE(report_line(result.out, "ok", "VX_TestIso9141Connect(10400)").find("battery 12.6 V"),
              std::string::npos);
    EXPECT_NE(report_line(result.out, "ok", "VX_ReadBatteryVoltage()").find("12.6V (12600 mV)"), std::string::npos);
    // the keepalive block was acknowledged by the ECU (counter continued),
    const std::string traffic = report_line(result.out, "ok", "VX_ProtocolTrafficProbe(\"KWP71\")");
    EXPECT_NE(traffic.find("TX 03 01 09 03 STATUS_NOERROR written 1"), std::string::npos) << traffic;
    EXPECT_NE(traffic.find("RX 03 02 09 03"), std::string::npos) << traffic;
    // the verified function sent its start and stop frames and saw both ACKs,
    const std::string function = report_line(result.out, "ok", "VX_RunSafeFunction(Idle speed valve)");
    EXPECT_NE(function.find("sent, TX 04 01 04 01 03 STATUS_NOERROR written 1"), std::string::npos) << function;
    EXPECT_NE(function.find("stop TX 04 03 04 00 03 STATUS_NOERROR written 1"), std::string::npos) << function;
    EXPECT_NE(function.find("RX 03 02 09 03, RX 03 04 09 03"), std::string::npos) << function;
    // the actuator block went out with the core's counter and was acknowledged,
    const std::string actuator = report_line(result.out, "ok", "VX_RunActuatorKwp71(Fuel pump relay)");
    EXPECT_NE(actuator.find("sent, block counter 1 -> 2, TX 04 01 04 02 03"), std::string::npos) << actuator;
    EXPECT_NE(actuator.find("RX 03 02 09 03"), std::string::npos) << actuator;
    const std::string clear = report_line(result.out, "ok", "VX_ClearFaultMemory(Clear fault memory)");
    EXPECT_NE(clear.find("sent, TX 04 02 05 00 03"), std::string::npos) << clear;
    EXPECT_NE(clear.find("RX 03 03 09 03"), std::string::npos) << clear;

    // and the raw log that ends the demo shows every step.
    const std::size_t log = result.out.find("VX_GetLastLog()");
    ASSERT_NE(log, std::string::npos);
    const std::string raw_log = result.out.substr(log);
    for (const char* entry :
         {" PassThruOpen OK dll=", " ISO9141 connect OK channelId=", " FIVE_BAUD_INIT addr=16 rc=0",
          " KLineActivityProbe raw-55-default TX=55", " ProtocolTrafficProbe KWP71 TX=03 01 09 03 wrRc=0 rxCount=1",
          " VX_ReadBatteryVoltage volts=12.600000", " BUILD322 backend-forward attempt kind=faults",
          " BUILD322 backend-forward attempt kind=parameters",
          " FunctionExecution verified name=Idle speed valve TX=04 01 04 01 03 wrRc=0 rxCount=2",
          " KWP71 actuator name=Fuel pump relay TX=04 01 04 02 03 seq=1 wrRc=0 rxCount=1",
          " ClearFaultMemory TX=04 02 05 00 03 wrRc=0 written=1 rxCount=1", " PassThru closed"}) {
        EXPECT_NE(raw_log.find(entry), std::string::npos) << "raw log lacks: " << entry << "\n" << raw_log;
    }
}

TEST_F(VxdiagProcess, JsonPrintsEachResultTextAsOneJsonObjectPerLine) {
    const ProcessResult result = run({"--json", "demo"});

    EXPECT_EQ(result.exit_code, 0) << result.err;
    const std::vector<std::string> lines = lines_of(result.out);
    ASSERT_EQ(lines.size(), 14u) << result.out;
    std::vector<nlohmann::json> results;
    for (const std::string& line : lines) {
        const nlohmann::json parsed = nlohmann::json::parse(line, nullptr, false);
        ASSERT_TRUE(parsed.is_object()) << line;
        results.push_back(parsed);
    }
    // The core's own texts, unchanged: the open, the init, the actuator...
    EXPECT_EQ(results[1].value("stage", ""), "PassThruOpen");
    EXPECT_EQ(results[3].value("initOk", false), true);
    EXPECT_EQ(results[3]["bytes"], nlohmann::json::parse("[1,138]"));
    EXPECT_EQ(results[10].value("stage", ""), "kwp71-actuator-command");
    EXPECT_EQ(results[10].value("ecuResponseSeen", false), true);
    EXPECT_EQ(lines[12], R"({"ok":true})");  // VX_CloseJ2534
    // ...and the raw log, which is no JSON of its own, wrapped.
    ASSERT_TRUE(results[13].contains("rawLog"));
    EXPECT_NE(results[13]["rawLog"].get<std::string>().find(" PassThru closed\r\n"), std::string::npos);
}

TEST_F(VxdiagProcess, StepsOfOneRunShareTheCoreState) {
    // The ISO 9141-2 ECU woken in one step answers the fault read of a later
    // one: 48 6B 10 43 ... with its checksum.
    const ProcessResult iso = run({"run", "open", "connect:10400", "init:0x33", "faults", "close"});
    EXPECT_EQ(iso.exit_code, 0) << iso.out << iso.err;
    EXPECT_NE(report_line(iso.out, "ok", "VX_ReadFaults()").find("RX 48 6B 10 43 01 33 03 00 00 00"),
              std::string::npos)
        << iso.out;

    // A connect without an open device fails, and so does the run.
    const ProcessResult unopened = run({"run", "connect", "battery"});
    EXPECT_EQ(unopened.exit_code, 1);
    const std::string connect = report_line(unopened.out, "FAIL", "VX_TestIso9141Connect(10400)");
    EXPECT_NE(connect.find("not-open: Open a J2534 DLL first."), std::string::npos) << unopened.out;
    EXPECT_NE(unopened.out.find("1 of 2 steps did not answer ok: connect"), std::string::npos) << unopened.out;

    // With --stop-on-failure nothing runs after the first failure.
    const ProcessResult stopped = run({"run", "-x", "connect", "battery"});
    EXPECT_EQ(stopped.exit_code, 1);
    EXPECT_EQ(stopped.out.find("VX_ReadBatteryVoltage"), std::string::npos) << stopped.out;
    EXPECT_NE(stopped.out.find("(stopped; 1 steps not run)"), std::string::npos) << stopped.out;

    // An address no ECU answers: a warning, not a confirmed init.
    const ProcessResult nobody = run({"run", "open", "connect", "init:0x55", "close"});
    EXPECT_EQ(nobody.exit_code, 0) << nobody.out;
    const std::string init = report_line(nobody.out, "ok", "VX_TryFiveBaudInit(0x55)");
    EXPECT_NE(init.find("not confirmed (warning): ERR_FAILED (rc 7)"), std::string::npos) << nobody.out;
}

TEST_F(VxdiagProcess, UsageErrorsExitWithTwoAndNameTheBadArgument) {
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Case> cases{
        {{}, "A subcommand is required"},
        {{"run"}, "STEP is required"},
        {{"run", "open", "bogus:1"}, "unknown step 'bogus' in 'bogus:1'"},
        {{"run", "connect:fast"}, "step 'connect:fast': the baud rate 'fast' is not a number"},
        {{"run", "init:0x133"}, "step 'init:0x133': the ECU address '0x133' is not a byte"},
        {{"run", "battery:now"}, "step 'battery:now': the step battery takes no argument"},
        {{"run", "simulation:maybe"}, "step 'simulation:maybe'"},
        {{"run", "safe-function:{mode:verified}"},
         "step 'safe-function:{mode:verified}': the request '{mode:verified}' is not a JSON object"},
        {{"--bogus", "demo"}, "--bogus"},
        {{"--color", "purple", "demo"}, "purple"},
        {{"--core", "", "version"}, "--core: the path is empty"},
        // The demo's actuator test and fault clear are meant for the simulated vehicle.
        {{"--dll", VXDIAG_CORE_PATH, "demo"}, "is not the simulated VCI"},
    };
    for (const Case& c : cases) {
        const ProcessResult result = run(c.args);
        std::string joined;
        for (const std::string& arg : c.args) joined += arg + " ";
        EXPECT_EQ(result.exit_code, 2) << joined << result.out << result.err;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << joined << "\n" << result.err;
        EXPECT_TRUE(result.out.empty()) << joined << ": nothing may run\n" << result.out;
    }

    // Help is no error: the steps and their exports are listed.
    const ProcessResult help = run({"run", "--help"});
    EXPECT_EQ(help.exit_code, 0);
    EXPECT_NE(help.out.find("safe-function[:REQUEST]"), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("VX_RunSafeFunction"), std::string::npos);
    const ProcessResult top = run({"--help"});
    EXPECT_EQ(top.exit_code, 0);
    for (const char* word : {"demo", "run", "devices", "--dll", "--core", "--json"}) {
        EXPECT_NE(top.out.find(word), std::string::npos) << word;
    }
}

TEST_F(VxdiagProcess, MissingOrUnusableLibrariesGiveAClearMessageNotACrash) {
    // No core at the path: exit 1 with the path and the reason.
    const ProcessResult no_core = run({"--core", "/nonexistent/libVXArvessaDiagCore.so", "demo"});
    EXPECT_EQ(no_core.exit_code, 1);
    EXPECT_NE(no_core.err.find("vxdiag: cannot load the core library /nonexistent/libVXArvessaDiagCore.so: "),
              std::string::npos)
        << no_core.err;
    EXPECT_TRUE(no_core.out.empty());

    // A library that is not the core: it lacks the exports the steps need.
    const ProcessResult not_core = run({"--core", VXDIAG_SIM_PATH, "run", "version", "battery"});
    EXPECT_EQ(not_core.exit_code, 1);
    EXPECT_NE(not_core.err.find("does not export VX_CoreVersion, VX_ReadBatteryVoltage"), std::string::npos)
        << not_core.err;

    // No PassThru library at the path: the core's load failure and the cause.
    const ProcessResult no_dll = run({"--dll", "/nonexistent/libvendor_j2534.so", "run", "open", "close"});
    EXPECT_EQ(no_dll.exit_code, 1);
    const std::string open = report_line(no_dll.out, "FAIL", "VX_OpenJ2534Dll(libvendor_j2534.so)");
    EXPECT_NE(open.find("LoadLibrary/GetProcAddress: Failed to load J2534 DLL or required exported functions."),
              std::string::npos)
        << no_dll.out;
    EXPECT_NE(no_dll.out.find("/nonexistent/libvendor_j2534.so: no such file"), std::string::npos) << no_dll.out;

    // A library that is no PassThru library at all, even when the demo is
    // told to go ahead with it.
    const ProcessResult not_passthru = run({"--dll", VXDIAG_CORE_PATH, "demo", "--real-vehicle"});
    EXPECT_EQ(not_passthru.exit_code, 1);
    EXPECT_NE(not_passthru.out.find("lacks the SAE J2534-1 entry points PassThruOpen, PassThruClose"),
              std::string::npos)
        << not_passthru.out;

    // A PassThru library without a required entry point.
    const ProcessResult no_ioctl = run({"--dll", VXDIAG_SIM_NO_IOCTL_PATH, "run", "open"});
    EXPECT_EQ(no_ioctl.exit_code, 1);
    EXPECT_NE(no_ioctl.out.find("lacks the SAE J2534-1 entry points PassThruIoctl"), std::string::npos)
        << no_ioctl.out;
}

TEST_F(VxdiagProcess, ALibraryWithoutADeviceGivesThePassThruOpenFailure) {
    // The simulated VCI unplugged: PassThruOpen answers ERR_DEVICE_NOT_CONNECTED.
    const ProcessResult result =
        run({"--dll", VXDIAG_SIM_PATH, "run", "open", "connect", "close"}, "VXSIM_NO_DEVICE=1");

    EXPECT_EQ(result.exit_code, 1) << result.out << result.err;
    const std::string open = report_line(result.out, "FAIL", "VX_OpenJ2534Dll(");
    EXPECT_NE(open.find("PassThruOpen failed: ERR_DEVICE_NOT_CONNECTED (rc 8)"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("hint: If rc=8 / ERR_DEVICE_NOT_CONNECTED, connect and power the VCI"),
              std::string::npos)
        << result.out;

    const ProcessResult json = run({"--json", "--dll", VXDIAG_SIM_PATH, "run", "open"}, "VXSIM_NO_DEVICE=1");
    EXPECT_EQ(json.exit_code, 1);
    const nlohmann::json answer = nlohmann::json::parse(json.out, nullptr, false);
    ASSERT_TRUE(answer.is_object()) << json.out;
    EXPECT_EQ(answer.value("stage", ""), "PassThruOpen");
    EXPECT_EQ(answer.value("rc", 0), 8);
}

TEST_F(VxdiagProcess, DevicesListsTheRegisteredLibraries) {
    const ProcessResult none = run({"devices"});
    EXPECT_EQ(none.exit_code, 0);
    EXPECT_NE(report_line(none.out, "ok", "VX_ListJ2534Devices()").find("no registered PassThru libraries"),
              std::string::npos)
        << none.out;

    fs::create_directories(scratch_ / "home" / ".passthru");
    std::ofstream(scratch_ / "home" / ".passthru" / "simvci.json")
        << R"({"NAME":"Simulated VCI","VENDOR":"VX","FUNCTION_LIB":")" << VXDIAG_SIM_PATH << R"("})";
    const ProcessResult one = run({"devices"});
    EXPECT_EQ(one.exit_code, 0);
    EXPECT_NE(one.out.find("1 registered PassThru libraries"), std::string::npos) << one.out;
    EXPECT_NE(one.out.find(std::string("Simulated VCI  ") + VXDIAG_SIM_PATH + "  [~/.passthru, key simvci]"),
              std::string::npos)
        << one.out;

    // Colour only when asked for (the output here is no terminal).
    const ProcessResult coloured = run({"--color", "always", "version"});
    EXPECT_EQ(coloured.exit_code, 0);
    EXPECT_NE(coloured.out.find("\x1b["), std::string::npos);
    EXPECT_NE(coloured.out.find("communication core ready"), std::string::npos);
}

}  // namespace
