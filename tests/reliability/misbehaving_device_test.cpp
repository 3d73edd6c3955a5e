// A device library that breaks the SAE J2534-1 04.04 contract: message
// counts beyond the buffers the core offered, a last-error text without its
// NUL, every status code on every call. Whatever it does, every export stays
// within its buffers (AddressSanitizer watches this binary), answers one
// well-formed JSON object, and the raw log stays made of whole lines. (Sizes
// beyond the data area and unwritten outputs are golden cases.)
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>

#include "reliability/host_session.h"
#include "support/scoped_home.h"
#include "support/sim_device.h"

namespace vx::testing {
namespace {

using json = nlohmann::json;

constexpr int kLargeBuffer = 1 << 22;
// A heap block of exactly this size: a write past it is caught at once.
constexpr int kTinyBuffer = 7;

struct StepAnswer {
    std::string name;
    AnswerKind kind;
    int returned = 0;
    std::string text;
    json parsed;                    // Json answers only
    unsigned long first_call = 0;   // the device calls this step made: [first_call, end_call)
    unsigned long end_call = 0;
};

class MisbehavingDevice : public SimDeviceTest {
protected:
    // Runs the whole host session with result buffers of the given size.
    // buffer_size: kLargeBuffer or kTinyBuffer.
    std::vector<StepAnswer> run_session(int buffer_size = kLargeBuffer) {
        std::vector<StepAnswer> answers;
        const auto size = static_cast<std::size_t>(buffer_size);
        // Exactly the size offered; filled with a mark byte so a missing NUL shows.
        std::unique_ptr<char[]>& buffer = buffer_size == kLargeBuffer ? large_buffer_ : tiny_buffer_;
        if (!buffer) {
            buffer.reset(new char[size]);
            std::memset(buffer.get(), 0x5A, size);
        }
        for (const ExportStep& step : host_session(sim.path())) {
            StepAnswer answer;
            answer.name = step.name;
            answer.kind = step.kind;
            answer.first_call = sim.sim_call_count();
            answer.returned = step.call(buffer.get(), buffer_size);
            answer.end_call = sim.sim_call_count();
            if (step.kind != AnswerKind::Zero) {
                const char* nul = static_cast<const char*>(std::memchr(buffer.get(), '\0', size));
                answer.text.assign(buffer.get(), nul != nullptr ? static_cast<std::size_t>(nul - buffer.get()) : 0);
                EXPECT_NE(nul, nullptr) << step.name << ": no NUL within the buffer";
                std::memset(buffer.get(), 0x5A, std::min(size, answer.text.size() + 1));
            }
            if (step.kind == AnswerKind::Log) {
                EXPECT_EQ(static_cast<std::size_t>(answer.returned), VX_GetLastLog(nullptr, 0)) << step.name;
            }
            answers.push_back(std::move(answer));
        }
        return answers;
    }

    // The checks every session must pass: each answer well-formed and
    // measured by its return value, commandSent only for a frame the device
    // took, the raw log made of whole lines.
    void check_session(std::vector<StepAnswer>& answers) {
        for (StepAnswer& a : answers) {
            SCOPED_TRACE(a.name);
            switch (a.kind) {
                case AnswerKind::Zero:
                    EXPECT_EQ(a.returned, 0);
                    break;
                case AnswerKind::Version:
                    EXPECT_EQ(a.text, "Vexaro Arvessa Ryx J2534 communication core ready");
                    break;
                case AnswerKind::Log:
                    EXPECT_EQ(static_cast<std::size_t>(a.returned), a.text.size());
                    EXPECT_EQ(raw_log_fault(a.text), "");
                    break;
                case AnswerKind::Json: {
                    ASSERT_EQ(static_cast<std::size_t>(a.returned), a.text.size()) << "the buffer was large enough";
                    a.parsed = json::parse(a.text, nullptr, /*allow_exceptions=*/false);
                    ASSERT_FALSE(a.parsed.is_discarded()) << "not JSON: " << a.text.substr(0, 300);
                    ASSERT_TRUE(a.parsed.is_object()) << a.text.substr(0, 300);
                    if (a.parsed.contains("ok")) {
                        EXPECT_TRUE(a.parsed.at("ok").is_boolean()) << a.text;
                    }
                    if (a.parsed.value("commandSent", false)) {
                        EXPECT_TRUE(device_took_a_frame(a)) << "commandSent without a frame the device took: " << a.text;
                    }
                    break;
                }
            }
        }
        EXPECT_EQ(raw_log_fault(log()), "");
    }

    bool device_took_a_frame(const StepAnswer& a) const {
        const std::vector<sim_call> calls = sim.calls();
        const auto at = [&calls](unsigned long i) { return calls.begin() + static_cast<std::ptrdiff_t>(i); };
        return std::any_of(at(a.first_call), at(a.end_call), [](const sim_call& call) {
            return call.function == SIM_FN_WRITE_MSGS && call.status == 0 && call.num_msgs_out != 0;
        });
    }

    // Scripts the device, plays the session and checks it; then replays it,
    // freshly scripted, with buffers of a few bytes: every answer is cut
    // inside its buffer, and its length is still the full length of the first
    // run's answer. Returns the first run's answers.
    std::vector<StepAnswer> played(const std::function<void()>& script) {
        script();
        std::vector<StepAnswer> full = run_session();
        check_session(full);
        restart();
        script();
        const std::vector<StepAnswer> tiny = run_session(kTinyBuffer);
        EXPECT_EQ(tiny.size(), full.size());
        for (std::size_t i = 0; i < full.size() && i < tiny.size(); ++i) {
            if (full[i].kind != AnswerKind::Json) continue;
            EXPECT_EQ(tiny[i].returned, full[i].returned) << full[i].name;
            EXPECT_EQ(tiny[i].text, full[i].text.substr(0, kTinyBuffer - 1)) << full[i].name;
        }
        return full;
    }

    const StepAnswer& answer(const std::vector<StepAnswer>& answers, std::string_view name) {
        for (const StepAnswer& a : answers) {
            if (a.name == name) return a;
        }
        throw std::runtime_error("no step " + std::string(name));
    }

    // Every object anywhere in the answer that holds this member.
    static void objects_with(const json& value, const char* member, std::vector<const json*>& out) {
        if (value.is_object() && value.contains(member)) out.push_back(&value);
        if (value.is_structured()) {
            for (const json& child : value) objects_with(child, member, out);
        }
    }

    void queue_replies(int count, std::size_t bytes) {
        for (int i = 0; i < count; ++i) sim.queue_reply(std::vector<std::uint8_t>(bytes, static_cast<std::uint8_t>(i)));
    }

    ScopedHome home;  // no registered interfaces: not the real machine's
    // The result buffers, kept between sessions (the large one is costly to set up).
    std::unique_ptr<char[]> large_buffer_;
    std::unique_ptr<char[]> tiny_buffer_;
};

TEST_F(MisbehavingDevice, LastErrorTextFillingTheWholeBufferWithoutNul) {
    std::string text;
    while (text.size() < 512) text += "Vendor driver fault 0x1F at USB endpoint 2; ";
    text.resize(512);
    constexpr long kErrDeviceNotConnected = 8;
    const std::string expected_error = "ERR_DEVICE_NOT_CONNECTED: " + text;

    for (const int failing : {SIM_FN_OPEN, SIM_FN_CONNECT}) {
        SCOPED_TRACE(failing);
        restart();
        const std::vector<StepAnswer> answers = played([this, &text, failing] {
            sim.set_last_error(text);
            sim.sim_set_status(failing, kErrDeviceNotConnected);
        });
        const json& failed = answer(answers, failing == SIM_FN_OPEN ? "VX_OpenJ2534Dll" : "VX_TestIso9141Connect 10400").parsed;
        EXPECT_EQ(failed.at("ok"), false);
        EXPECT_EQ(failed.at("error"), expected_error) << "all 512 bytes, nothing read beyond them";
        EXPECT_NE(log().find(" rc=8 " + expected_error + "\r\n"), std::string::npos) << log();
    }
}

TEST_F(MisbehavingDevice, WriteReportingFiveMessagesForOne) {
    const std::vector<StepAnswer> answers = played([this] {
        sim.sim_set_write_reported_count(5);
        queue_replies(8, 4);
    });
    for (const StepAnswer& a : answers) {
        if (a.name == "VX_CloseJ2534") break;  // the simulated answers transmit nothing
        if (a.kind != AnswerKind::Json) continue;
        std::vector<const json*> attempts;
        objects_with(a.parsed, "txMessagesWritten", attempts);
        for (const json* attempt : attempts) {
            // A passive listen writes nothing and shows 0.
            if ((*attempt).at("writeRc") == 0 && (*attempt).at("txHex") != "") {
                EXPECT_EQ((*attempt).at("txMessagesWritten"), 5) << a.name << " shows the count as reported: " << a.text;
            }
        }
    }
    // The commands count a frame as sent only for status 0 with exactly the
    // one message offered.
    for (const char* command : {"VX_RunSafeFunction verified", "VX_RunActuatorKwp71", "VX_ClearFaultMemory"}) {
        EXPECT_EQ(answer(answers, command).parsed.at("commandSent"), false) << command;
    }
}

TEST_F(MisbehavingDevice, ReadReportingSevenMessagesForTheOneOffered) {
    for (const bool claims_without_data : {false, true}) {
        SCOPED_TRACE(claims_without_data);
        restart();
        const std::vector<StepAnswer> answers = played([this, claims_without_data] {
            sim.sim_set_read_reported_count(7);
            // NumMsgs 7 with STATUS_NOERROR and nothing to read, or for each reply.
            if (claims_without_data) sim.sim_set_read_empty_status(0);
            else queue_replies(30, 5);
        });
        std::vector<const json*> lists;
        for (const StepAnswer& a : answers) {
            if (a.kind == AnswerKind::Json) objects_with(a.parsed, "rxCount", lists);
        }
        ASSERT_FALSE(lists.empty());
        for (const json* list : lists) {
            const json& rx = (*list).at("rx");
            ASSERT_TRUE(rx.is_array());
            EXPECT_LE(rx.size(), 8u) << "each collection is bounded by its own maximum";
            if ((*list).contains("stopRx")) continue;  // rx_count then sums both collections
            EXPECT_EQ((*list).at("rxCount"), rx.size());
        }
        EXPECT_LE(sim.sim_call_count(), 400u) << "the reads ended";
    }
}

const json kRows = json::parse(std::ifstream(VXDIAG_TEST_DIR "/reliability/misbehaving_rows.json"));

// Every status code from -5 to 40 on every call of some entry points (or of
// one ioctl), the whole session long.
class EveryStatusOnEveryCall : public MisbehavingDevice, public ::testing::WithParamInterface<json> {};

TEST_P(EveryStatusOnEveryCall, EveryExportAnswersAndTheLogStaysWhole) {
    static const std::vector<std::string> kFunctions{"Open",     "Close", "Connect",      "Disconnect",     "ReadMsgs",
                                                     "WriteMsgs", "Ioctl", "GetLastError", "StartMsgFilter", "StopMsgFilter"};
    const json& row = GetParam();
    for (long status = -5; status <= 40; ++status) {
        SCOPED_TRACE("status " + std::to_string(status));
        restart();
        sim.set_last_error("Vendor says: line fault");
        queue_replies(4, 3);
        for (const json& name : row[1]) {
            const auto at = std::find(kFunctions.begin(), kFunctions.end(), name.get<std::string>());
            ASSERT_NE(at, kFunctions.end()) << name;
            sim.sim_set_status(static_cast<int>(at - kFunctions.begin()), status);
        }
        if (row[2] != 0) sim.sim_set_ioctl_status(row[2].get<unsigned long>(), status);
        std::vector<StepAnswer> answers = run_session();
        check_session(answers);
        if (::testing::Test::HasFatalFailure()) return;
        if (!row[3].is_null()) {
            // A failing call is never reported as a success, and a success
            // never as a failure.
            const StepAnswer& judged = answer(answers, row[3].get<std::string>());
            EXPECT_EQ(judged.parsed.at(row[4].get<std::string>()), status == 0) << judged.text;
        }
        if (::testing::Test::HasFailure()) return;  // one status's report is enough
    }
}

INSTANTIATE_TEST_SUITE_P(Statuses, EveryStatusOnEveryCall, ::testing::ValuesIn(kRows.at("statuses").get<std::vector<json>>()),
                         [](const auto& row) { return row.param[0].template get<std::string>(); });

}  // namespace
}  // namespace vx::testing
