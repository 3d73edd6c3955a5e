#include "core/raw_log.h"

#include <mutex>

#include "core/text_utils.h"
#include "platform/clock.h"

namespace vx {

namespace {

// The log has its own short lock: appends and reads copy bytes under it and
// nothing else, so VX_GetLastLog never waits for a PassThru call.
std::mutex g_log_mutex;
constinit std::string g_log;

void append_two_digits(std::string& out, int value) {
    out.push_back(static_cast<char>('0' + (value / 10) % 10));
    out.push_back(static_cast<char>('0' + value % 10));
}

// "%04d-%02d-%02d %02d:%02d:%02d"
void append_timestamp(std::string& out, const platform::LocalTime& t) {
    if (t.year >= 0 && t.year <= 9999) {
        append_two_digits(out, t.year / 100);
        append_two_digits(out, t.year % 100);
    } else {
        append_decimal(out, t.year);
    }
    out.push_back('-');
    append_two_digits(out, t.month);
    out.push_back('-');
    append_two_digits(out, t.day);
    out.push_back(' ');
    append_two_digits(out, t.hour);
    out.push_back(':');
    append_two_digits(out, t.minute);
    out.push_back(':');
    append_two_digits(out, t.second);
}

}  // namespace

void log_line(std::string_view text, LineEnd end) {
    std::string line;
    line.reserve(19 + text.size() + 2);
    append_timestamp(line, platform::local_time());
    line.append(text);
    line.append(end == LineEnd::CrLf ? "\r\n" : "\n");

    std::lock_guard<std::mutex> lock(g_log_mutex);
    // std::string::append has no effect when it throws, so a line is either
    // appended whole or not at all.
    g_log.append(line);
}

int copy_log_out(char* buffer, int size) noexcept {
    std::lock_guard<std::mutex> lock(g_log_mutex);
    return copy_out(g_log, buffer, size);
}

std::size_t log_size() {
    std::lock_guard<std::mutex> lock(g_log_mutex);
    return g_log.size();
}

std::string log_snapshot() {
    std::lock_guard<std::mutex> lock(g_log_mutex);
    return g_log;
}

void clear_log_for_tests() {
    std::lock_guard<std::mutex> lock(g_log_mutex);
    std::string().swap(g_log);
}

}  // namespace vx
