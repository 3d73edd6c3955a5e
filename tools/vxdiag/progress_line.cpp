#include "progress_line.h"

#include "host_console.h"

#include <fmt/format.h>

#include <cstdio>
#include <utility>

namespace vxdiag {

namespace {

constexpr std::chrono::milliseconds kRedrawInterval{100};

void write_stderr(const std::string& text) {
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
}

}  // namespace

ProgressLine::ProgressLine(std::string label, bool enabled)
    : label_(std::move(label)), start_(std::chrono::steady_clock::now()) {
    if (enabled) thread_ = std::thread([this] { show_until_done(); });
}

ProgressLine::~ProgressLine() {
    if (!thread_.joinable()) return;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        done_ = true;
    }
    done_changed_.notify_one();
    thread_.join();
}

void ProgressLine::show_until_done() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (done_changed_.wait_for(lock, kQuietTime, [this] { return done_; })) return;
    do {
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        std::string line = fmt::format("  running {}  {:.1f} s", label_, seconds);
        if (vx::platform::interrupt_exit_status() != 0) line += "  (interrupted: finishing this step, then closing)";
        // Carriage return and blanks: plain text every terminal understands.
        const std::size_t width = line.size();
        if (line.size() < shown_width_) line.resize(shown_width_, ' ');
        write_stderr("\r" + line);
        shown_width_ = width;
    } while (!done_changed_.wait_for(lock, kRedrawInterval, [this] { return done_; }));
    write_stderr("\r" + std::string(shown_width_, ' ') + "\r");
}

}  // namespace vxdiag
