// The result texts and raw-log lines that hosts rely on, as reviewed data.
//
// Every *.golden file next to this one holds cases: a device script, export
// calls, and after each call the exact result text, the log lines it wrote
// and (where a case lists them) the device calls it made. The format is
// described in README.md here. With VXDIAG_GOLDEN_RECORD=1 in the
// environment the program writes what the core answers now into the files
// instead of comparing (run the Golden tests in one process, then review the
// difference).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include "core/text_utils.h"
#include "support/export_calls.h"
#include "support/sim_device.h"

namespace vx::testing {
namespace {

namespace fs = std::filesystem;

struct GoldenCase {
    fs::path file;
    std::string title;
    std::vector<std::string> lines;
};

void PrintTo(const GoldenCase& golden, std::ostream* out) { *out << golden.file.filename() << ": " << golden.title; }

// The build of the simulated device a `library` line names, or null.
const char* variant_build(const std::string& name) {
    static const std::map<std::string, const char*> kBuilds{{"no-ioctl", SimDevice::kNoIoctl},
                                                            {"no-lasterror", SimDevice::kNoLastError},
                                                            {"no-filter", SimDevice::kNoFilter},
                                                            {"lenient", SimDevice::kLenient}};
    const auto it = kBuilds.find(name);
    return it == kBuilds.end() ? nullptr : it->second;
}

// A line that starts with `+` continues the line before it: the text after
// the `+` is appended exactly, so a long answer can be written one member per
// line and is still compared as one text.
std::vector<GoldenCase> load_cases(const std::string& extension = ".golden") {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(VXDIAG_GOLDEN_DIR)) {
        if (entry.path().extension() == extension) files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    std::vector<GoldenCase> cases;
    for (const fs::path& file : files) {
        std::ifstream in(file);
        for (std::string line; std::getline(in, line);) {
            if (line.rfind("=== ", 0) == 0) {
                cases.push_back({file, line.substr(4), {}});
            } else if (!cases.empty() && cases.back().file == file) {
                std::vector<std::string>& lines = cases.back().lines;
                if (line.rfind('+', 0) == 0 && !lines.empty()) lines.back() += line.substr(1);
                else lines.push_back(line);
            }
        }
    }
    return cases;
}

// How the files hold a line: a line longer than kWide is broken after each
// comma outside a JSON string (one member per line), and before a space once
// a piece is kWide long; every later piece starts with `+`. No piece ends in
// a space, so no editor can change what a case says.
constexpr std::size_t kWide = 100;

std::string wrapped(const std::string& line) {
    if (line.size() <= kWide) return line;
    std::string out;
    bool quoted = false;
    bool escaped = false;
    std::size_t piece = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        const bool at_space = c == ' ' && piece >= kWide && line[i - 1] != ' ';
        if (at_space) {
            out += "\n+";
            piece = 1;
        }
        out += c;
        ++piece;
        if (escaped) escaped = false;
        else if (quoted && c == '\\') escaped = true;
        else if (c == '"') quoted = !quoted;
        else if (c == ',' && !quoted && i + 1 < line.size()) {
            out += "\n+";
            piece = 1;
        }
    }
    return out;
}

// What makes a case unable to check all it says; each is a failure.
std::vector<std::string> case_problems(const std::vector<std::string>& lines) {
    static const std::vector<std::string> kVerbs{"sim", "setup", "ticks", "call",  "expect",
                                                 "log", "log-lf", "log-unended", "device"};
    std::vector<std::string> problems;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::istringstream in(lines[i]);
        std::string verb;
        std::string arg;
        in >> verb >> arg;
        const bool after_call = i > 0 && lines[i - 1].rfind("call ", 0) == 0;
        if (verb == "library") {
            if (i != 0 || variant_build(arg) == nullptr) problems.push_back("unknown library line: " + lines[i]);
        } else if (std::find(kVerbs.begin(), kVerbs.end(), verb) == kVerbs.end()) {
            problems.push_back("unknown verb: " + lines[i]);
        } else if (verb == "setup" && arg != "open" && arg != "connect" && arg != "init") {
            problems.push_back("unknown setup: " + lines[i]);
        } else if (verb == "expect" && !after_call) {
            problems.push_back("expect without a call: " + lines[i]);
        }
        if (verb == "call" && (i + 1 == lines.size() || lines[i + 1].rfind("expect ", 0) != 0)) {
            problems.push_back("call without expect: " + lines[i]);
        }
    }
    return problems;
}

bool recording() {
    const char* value = std::getenv("VXDIAG_GOLDEN_RECORD");
    return value != nullptr && std::string(value) == "1";
}

// Lines as the files hold them.
std::string text_of(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += wrapped(line) + '\n';
    return text;
}

// What the recorder saw, by file and case title. A case that did not run,
// or did not run to its end, keeps its lines as they were.
std::map<std::pair<fs::path, std::string>, std::string> g_recorded;

class RecordWriter : public ::testing::Environment {
public:
    void TearDown() override {
        std::map<fs::path, std::string> files;
        for (const GoldenCase& golden : load_cases()) {
            const auto it = g_recorded.find({golden.file, golden.title});
            files[golden.file] += "=== " + golden.title + '\n';
            files[golden.file] += it != g_recorded.end() ? it->second : text_of(golden.lines);
        }
        for (const auto& [file, text] : files) std::ofstream(file, std::ios::binary) << text;
    }
};

// Sleeps of the core, each with the number of device calls made before it,
// so they can be shown in order among the calls.
std::vector<std::pair<unsigned long, std::uint32_t>> g_sleeps;
SimDevice* g_sim = nullptr;

std::string word(std::istringstream& in) {
    std::string w;
    in >> w;
    return w;
}

// Values beyond 32 bits wrap as the device sees them where long has 32 bits.
long number(const std::string& text) { return static_cast<long>(std::stoll(text, nullptr, 0)); }

// A number, or a device function by name (by the order of the SIM_FN_ numbers).
long argument(const std::string& text) {
    static const std::vector<std::string> kFunctions{"Open", "Close", "Connect", "Disconnect", "ReadMsgs", "WriteMsgs",
                                                     "Ioctl", "GetLastError", "StartMsgFilter", "StopMsgFilter"};
    const auto it = std::find(kFunctions.begin(), kFunctions.end(), text);
    return it == kFunctions.end() ? number(text) : static_cast<long>(it - kFunctions.begin());
}

// A back-door function whose parameters are all numbers, called with the
// script's next words in order; empty for the others.
template <typename R, typename... A>
std::function<void(std::istringstream&)> numeric_call(R (*function)(A...)) {
    if constexpr (!(std::is_arithmetic_v<A> && ...)) return nullptr;
    else return [function](std::istringstream& in) {
        std::apply(function, std::tuple<A...>{static_cast<A>(argument(word(in)))...});
    };
}

const char* ioctl_name(unsigned long id) {
    static const char* const kNames[] = {"0", "GET_CONFIG", "SET_CONFIG", "READ_VBATT", "FIVE_BAUD_INIT",
                                         "FAST_INIT", "6", "CLEAR_TX_BUFFER", "CLEAR_RX_BUFFER"};
    return id < std::size(kNames) ? kNames[id] : "OTHER";
}

std::vector<unsigned char> bytes_of(std::istringstream& in, std::map<std::string, long>& options) {
    std::vector<unsigned char> bytes;
    for (std::string token; in >> token;) {
        const auto eq = token.find('=');
        if (eq == std::string::npos) {
            bytes.push_back(static_cast<unsigned char>(std::stoul(token, nullptr, 16)));
        } else {
            options[token.substr(0, eq)] = number(token.substr(eq + 1));
        }
    }
    return bytes;
}

// The device's path, which differs from build to build, written as $SIM,
// in a result (JSON-escaped) and in the log.
std::string with_sim_token(std::string text, const std::string& path) {
    const std::string escaped = json_escaped_text(path);
    const std::string* const forms[] = {&escaped, &path};
    for (const std::string* form : forms) {
        for (auto at = text.find(*form); at != std::string::npos; at = text.find(*form, at + 4)) {
            text.replace(at, form->size(), "$SIM");
        }
    }
    return text;
}

// One device call as a golden line.
std::string describe(const sim_call& c) {
    std::ostringstream out;
    out << "device " << (c.name + 8);  // without "PassThru"
    if (c.function >= SIM_FN_DISCONNECT && c.function != SIM_FN_GET_LAST_ERROR) out << " ch=" << c.channel_id;
    if (c.function == SIM_FN_READ_MSGS || c.function == SIM_FN_WRITE_MSGS) {
        out << " timeout=" << c.timeout << " n=" << c.num_msgs_in << "->" << c.num_msgs_out;
    }
    switch (c.function) {
        case SIM_FN_OPEN: out << (c.name_was_null ? " default" : " named"); break;
        case SIM_FN_CLOSE: out << " dev=" << c.device_id; break;
        case SIM_FN_CONNECT:
            out << " dev=" << c.device_id << " protocol=" << c.protocol_id << " flags=0x" << std::hex << c.flags
                << std::dec << " baud=" << c.baud_rate;
            break;
        case SIM_FN_WRITE_MSGS:
            out << " protocol=" << c.msg_protocol_id << " flags=0x" << std::hex << c.msg_tx_flags
                << std::dec << " size=" << c.msg_data_size << " extra=" << c.msg_extra_data_index << " data "
                << hex_bytes_text({c.frame, c.frame_size});
            break;
        case SIM_FN_IOCTL:
            out << ' ' << ioctl_name(c.ioctl_id);
            for (unsigned long i = 0; i < c.config_count; ++i) {
                out << ' ' << c.config_parameter[i] << '=' << c.config_value[i];
            }
            if (c.ioctl_id == 4) {
                out << " in=" << c.init_input_num_bytes << ':' << hex_bytes_text({c.init_input, c.init_input_count})
                    << " room=" << c.init_output_num_bytes_in << "->" << c.init_output_num_bytes_out;
            }
            if (c.ioctl_id == 3) out << " out=" << (c.output_non_null ? "yes" : "null");
            break;
        case SIM_FN_START_MSG_FILTER:
            out << (c.filter_type == 1 ? " PASS" : c.filter_type == 2 ? " BLOCK" : " OTHER")
                << " protocol=" << c.filter_protocol_id << " size=" << c.filter_size
                << " mask=" << hex_bytes_text({c.filter_mask, c.filter_count})
                << " pattern=" << hex_bytes_text({c.filter_pattern, c.filter_count})
                << (c.filter_flow_control_non_null ? " flow-control" : "") << " id=" << c.filter_id;
            break;
        case SIM_FN_STOP_MSG_FILTER: out << " id=" << c.filter_id; break;
        default: break;
    }
    if (c.status != 0) out << " = " << c.status;
    return out.str();
}

// ---- Running one case ----

class GoldenTest : public CoreTest, public ::testing::WithParamInterface<GoldenCase> {
protected:
    void run_case(const GoldenCase& golden);

private:
    void script(std::istringstream& in);
    std::string call(const std::string& name, const std::string& arg);
    void setup(const std::string& stage);
    std::vector<std::string> new_log_lines();
    std::vector<std::string> new_device_lines();

    SimDevice* sim_ = nullptr;
    std::size_t log_seen_ = 0;
    unsigned long calls_seen_ = 0;
    std::size_t sleeps_seen_ = 0;
};

void GoldenTest::script(std::istringstream& in) {
    SimDevice& sim = *sim_;
    const std::string what = word(in);
    std::map<std::string, long> options;
    if (what == "keys") {
        const auto reported = static_cast<unsigned long>(number(word(in)));
        sim.set_five_baud_keys(bytes_of(in, options), reported);
    } else if (what == "last-error") {
        const long status = number(word(in));
        std::string text;
        std::getline(in >> std::ws, text);
        sim.set_last_error(text, status);
    } else if (what == "reply") {
        const std::vector<unsigned char> data = bytes_of(in, options);
        sim_reply reply{};
        reply.data = data.data();
        reply.size = static_cast<unsigned long>(data.size());
        options.try_emplace("protocol", 3);  // ISO9141
        reply.protocol_id = static_cast<unsigned long>(options["protocol"]);
        reply.rx_status = static_cast<unsigned long>(options["rx-status"]);
        reply.timestamp = static_cast<unsigned long>(options["timestamp"]);
        reply.extra_data_index = static_cast<unsigned long>(options["extra"]);
        reply.override_data_size = static_cast<int>(options.count("data-size"));
        reply.data_size = static_cast<unsigned long>(options["data-size"]);
        reply.after_writes = static_cast<unsigned>(options["after"]);
        sim.sim_queue_reply(&reply);
    } else {
        std::map<std::string, std::function<void(std::istringstream&)>> calls;
#define VX_SIM_CALL(ret, name, params) calls[std::string(#name).substr(4)] = numeric_call(sim.name);
        SIM_CONTROL_FUNCTIONS(VX_SIM_CALL)
#undef VX_SIM_CALL
        calls.at(what)(in);
    }
}

std::string GoldenTest::call(const std::string& name, const std::string& argument) {
    std::vector<char> buffer(65536, '\0');
    const int length = call_export(name, argument == "$SIM" ? sim_->path() : argument, buffer.data(),
                                   static_cast<int>(buffer.size()));
    if (name == "VX_SetSimulation") return std::to_string(length);
    EXPECT_EQ(length, static_cast<int>(std::strlen(buffer.data()))) << name << " returned another length";
    return with_sim_token(buffer.data(), sim_->path());
}

// Open, connect and initialise as the shared starting points of cases; what
// they log and make the device do is not part of the case.
void GoldenTest::setup(const std::string& stage) {
    const bool connect = stage != "open";
    const bool init = stage == "init";
    ASSERT_NE(call("VX_OpenJ2534Dll", "$SIM").find("\"ok\":true"), std::string::npos);
    ASSERT_TRUE(!connect || call("VX_TestIso9141Connect", "10400").rfind("{\"ok\":true", 0) == 0);
    ASSERT_TRUE(!init || call("VX_TryFiveBaudInit", "0x33").rfind("{\"ok\":true", 0) == 0);
    new_log_lines();
    new_device_lines();
}

// Each new log line with how it ends: CR LF, LF alone, or not at all.
std::vector<std::string> GoldenTest::new_log_lines() {
    const std::string text = log();
    std::vector<std::string> lines;
    for (std::size_t at = log_seen_, lf = 0; at < text.size(); at = lf + 1) {
        lf = std::min(text.find('\n', at), text.size());
        std::string line = text.substr(at, lf - at);
        const bool crlf = lf < text.size() && line.ends_with('\r');
        if (crlf) line.pop_back();
        const std::string verb = crlf ? "log " : lf < text.size() ? "log-lf " : "log-unended ";
        lines.push_back(verb + with_sim_token(line, sim_->path()));
    }
    log_seen_ = text.size();
    return lines;
}

std::vector<std::string> GoldenTest::new_device_lines() {
    std::vector<std::string> lines;
    const unsigned long count = sim_->sim_call_count();
    for (unsigned long i = calls_seen_; i <= count; ++i) {
        for (; sleeps_seen_ < g_sleeps.size() && g_sleeps[sleeps_seen_].first == i; ++sleeps_seen_) {
            lines.push_back("device Sleep " + std::to_string(g_sleeps[sleeps_seen_].second));
        }
        sim_call c{};
        if (i < count && sim_->sim_get_call(i, &c)) lines.push_back(describe(c));
    }
    calls_seen_ = count;
    return lines;
}

// Runs the case and compares it, as the files hold it, with the same case
// answered now: its own lines, with each expect line and each log and device
// block replaced by what the core and the device did. A call's log lines
// follow it when the case has none there.
void GoldenTest::run_case(const GoldenCase& golden) {
    const std::vector<std::string>& lines = golden.lines;
    for (const std::string& problem : case_problems(lines)) ADD_FAILURE() << golden.title << ": " << problem;
    if (HasFailure()) return;
    const bool variant = !lines.empty() && lines[0].rfind("library ", 0) == 0;
    SimDevice sim(variant ? variant_build(lines[0].substr(8)) : SimDevice::kFull);
    sim_ = g_sim = &sim;
    g_sleeps.clear();
    std::vector<std::string> actual;
    const auto append = [&actual](const std::vector<std::string>& more) {
        actual.insert(actual.end(), more.begin(), more.end());
    };
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::istringstream in(lines[i]);
        const std::string verb = word(in);
        if (verb == "device" || verb.rfind("log", 0) == 0) {
            // A block stands for everything since the last check; its first line takes its place.
            const std::string block = verb == "device" ? "device" : "log";
            if (i == 0 || lines[i - 1].rfind(block, 0) != 0) {
                append(block == "log" ? new_log_lines() : new_device_lines());
            }
            continue;
        }
        actual.push_back(lines[i]);
        if (verb == "sim") script(in);
        if (verb == "setup") setup(word(in));
        if (verb == "ticks") FakeClock::ticks = static_cast<std::uint32_t>(std::stoul(word(in)));
        if (verb == "call") {
            const std::string name = word(in);
            std::string arg;
            std::getline(in, arg);
            if (!arg.empty()) arg.erase(0, 1);
            actual.push_back("expect " + call(name, arg));
            if (++i + 1 == lines.size() || lines[i + 1].rfind("log", 0) != 0) append(new_log_lines());
        }
    }
    append(new_log_lines());  // every log line a case causes is part of it
    if (!recording()) {
        EXPECT_EQ(text_of(lines), text_of(actual)) << golden.title;
    } else if (!HasFailure()) {
        g_recorded[{golden.file, golden.title}] = text_of(actual);
    }
    g_sim = nullptr;
}

TEST_P(GoldenTest, AnswersAsRecorded) {
    platform::ClockHooks hooks;
    hooks.local_time = [] { return FakeClock::now; };
    hooks.tick_count_ms = [] { return FakeClock::ticks; };
    hooks.sleep_ms = [](std::uint32_t ms) {
        g_sleeps.emplace_back(g_sim != nullptr ? g_sim->sim_call_count() : 0, ms);
    };
    platform::set_clock_hooks(&hooks);
    run_case(GetParam());
}

std::string case_name(const ::testing::TestParamInfo<GoldenCase>& info) {
    std::string name = info.param.file.stem().string() + "_" + info.param.title;
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    }
    return name;
}

// The driver refuses the cases of driver.refused (each titled with the
// problem it has) and breaks a long line as the files hold it.
TEST(GoldenDriver, RefusesCasesThatCheckLess) {
    const std::vector<GoldenCase> cases = load_cases(".refused");
    ASSERT_FALSE(cases.empty());
    for (const GoldenCase& c : cases) {
        const std::vector<std::string> problems = case_problems(c.lines);
        EXPECT_EQ(problems.empty() ? "no problem" : problems[0].substr(0, c.title.size()), c.title) << c.lines[0];
    }
    const std::string q(kWide, 'q');
    const std::string r(kWide, 'r');
    EXPECT_EQ(wrapped("expect {\"a\":\"x, y\\\",z\",\"b\":[1,2]," + q + " " + r + "}"),
              "expect {\"a\":\"x, y\\\",z\",\n+\"b\":[1,\n+2],\n+" + q + "\n+ " + r + "}");
}

INSTANTIATE_TEST_SUITE_P(Golden, GoldenTest, ::testing::ValuesIn(load_cases()), case_name);

const auto* const kRecordWriter = recording() ? ::testing::AddGlobalTestEnvironment(new RecordWriter) : nullptr;

}  // namespace
}  // namespace vx::testing
