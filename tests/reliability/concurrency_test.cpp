// Several host threads at once. The core serialises the exports on its own
// lock and keeps the raw log behind a lock of its own, so that a host may
// read the log from its GUI thread while a worker thread waits for the
// device. Built with ThreadSanitizer, which fails the run on any data race.
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <iostream>
#include <mutex>
#include <thread>

#include "reliability/host_session.h"
#include "support/scoped_home.h"
#include "support/sim_device.h"

namespace vx::testing {
namespace {

constexpr int kBufferSize = 1 << 16;

// The complete lines at the start of a log copy (the copy may end inside a
// line when the buffer was smaller than the log).
std::string_view whole_lines(std::string_view copy) {
    const std::size_t last = copy.rfind('\n');
    return last == std::string_view::npos ? std::string_view{} : copy.substr(0, last + 1);
}

using ConcurrentHosts = SimDeviceTest;

TEST_F(ConcurrentHosts, FourThreadsOnEveryExportLeaveEveryLogLineWhole) {
    ScopedHome home;
    home.write(".passthru/sim.json", R"({"NAME":"Simulated cable","FUNCTION_LIB":")" + sim.path() + R"("})");
    const std::vector<ExportStep> steps = host_session(sim.path());
    // Problems seen on the worker threads, reported once they have joined.
    std::mutex problems_mutex;
    std::vector<std::string> problems;
    const auto problem = [&](std::string text) {
        const std::lock_guard<std::mutex> lock(problems_mutex);
        if (problems.size() < 20) problems.push_back(std::move(text));
    };
    std::atomic<bool> stop{false};
    std::atomic<long> export_calls{0};
    std::atomic<long> log_reads{0};

    // Three threads play the session, each from its own place in it, so
    // opens, closes, probes and commands of different threads meet.
    auto session_player = [&](std::size_t offset) {
        std::vector<char> buffer(kBufferSize);
        for (std::size_t i = offset; !stop.load(); ++i) {
            const ExportStep& step = steps[i % steps.size()];
            buffer[0] = '\0';
            const int returned = step.call(buffer.data(), kBufferSize);
            export_calls.fetch_add(1);
            if (step.kind == AnswerKind::Json) {
                const std::string text(buffer.data());
                if (returned < 0 || static_cast<std::size_t>(returned) != text.size()) {
                    problem(step.name + ": returned " + std::to_string(returned) + " for " + text);
                } else if (const auto parsed = nlohmann::json::parse(text, nullptr, false); !parsed.is_object()) {
                    problem(step.name + ": not a JSON object: " + text);
                }
            }
            // The device keeps a record of every call; keep it short.
            if (i % 32 == 0) sim.sim_clear_calls();
        }
    };
    // The fourth reads the log in a tight loop and finds only whole lines.
    auto log_reader = [&] {
        std::vector<char> buffer(kBufferSize);
        while (!stop.load()) {
            const int returned = VX_GetLastLog(buffer.data(), kBufferSize);
            log_reads.fetch_add(1);
            const std::size_t copied = std::min(static_cast<std::size_t>(returned), static_cast<std::size_t>(kBufferSize - 1));
            const std::string fault = raw_log_fault(whole_lines(std::string_view(buffer.data(), copied)));
            if (!fault.empty()) problem("VX_GetLastLog: " + fault);
        }
    };

    std::vector<std::thread> threads;
    threads.emplace_back(session_player, 0);
    threads.emplace_back(session_player, 9);
    threads.emplace_back(session_player, 21);
    threads.emplace_back(log_reader);
    // A bounded run: long enough for thousands of calls to meet.
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    stop = true;
    for (std::thread& t : threads) t.join();

    for (const std::string& text : problems) ADD_FAILURE() << text;
    EXPECT_GT(export_calls.load(), static_cast<long>(3 * steps.size())) << "every thread went through the session";
    EXPECT_GT(log_reads.load(), 100);
    const std::string text = log();
    EXPECT_EQ(raw_log_fault(text), "");
    std::cout << "[ INFO     ] " << export_calls.load() << " export calls, " << log_reads.load()
              << " log reads, " << text.size() << " log bytes\n";
}

}  // namespace
}  // namespace vx::testing
