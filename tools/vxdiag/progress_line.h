// A live line on the terminal while a step runs: the five-baud initialisation
// takes about 2 s and a function its whole run time, during which a person
// at the terminal should see that vxdiag is busy and with what.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace vxdiag {

class ProgressLine {
public:
    // Shows `label` and the elapsed time on stderr once the step has run for
    // longer than kQuietTime, when `enabled` (stderr is a terminal); nothing
    // otherwise.
    ProgressLine(std::string label, bool enabled);
    // Erases the line, so the step's result line takes its place.
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    static constexpr std::chrono::milliseconds kQuietTime{300};

private:
    void show_until_done();

    std::string label_;
    std::chrono::steady_clock::time_point start_;
    std::mutex mutex_;
    std::condition_variable done_changed_;
    bool done_ = false;
    std::size_t shown_width_ = 0;  // characters of the line on screen
    std::thread thread_;
};

}  // namespace vxdiag
