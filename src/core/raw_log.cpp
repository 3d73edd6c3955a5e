#include "core/raw_log.h"

#include <mutex>

#include "core/text_utils.h"
#include "platform/clock.h"

namespace vx {

namespace {

// The log has its own short lock: appends and reads copy bytes under it and
// nothing else, so VX_GetLastLog never waits for a PassThru call.
std::mutex g_log_mutex;
std::string g_log;  // constant-initialised (empty), nothing runs at load

// One "%0<width>d" conversion: a minus sign for negative values, then the
// digits of the magnitude, zero-filled so that sign and digits together take
// at least width characters; wider values keep all their digits.
void append_zero_padded(std::string& out, int value, std::size_t width) {
    if (value < 0) {
        out.push_back('-');
        if (width != 0) --width;
    }
    const std::string digits = unsigned_text(value < 0 ? 0u - static_cast<unsigned>(value)
                                                       : static_cast<unsigned>(value));
    if (digits.size() < width) out.append(width - digits.size(), '0');
    out.append(digits);
}

// "%04d-%02d-%02d %02d:%02d:%02d", e.g. 2024-03-05 09:07:31.
void append_timestamp(std::string& out, const platform::LocalTime& t) {
    append_zero_padded(out, t.year, 4);
    out.push_back('-');
    append_zero_padded(out, t.month, 2);
    out.push_back('-');
    append_zero_padded(out, t.day, 2);
    out.push_back(' ');
    append_zero_padded(out, t.hour, 2);
    out.push_back(':');
    append_zero_padded(out, t.minute, 2);
    out.push_back(':');
    append_zero_padded(out, t.second, 2);
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
    try {
        std::lock_guard<std::mutex> lock(g_log_mutex);
        return copy_out(g_log, buffer, size);
    } catch (...) {
        // Only a failing lock gets here; answer with an empty text rather
        // than end the host process.
        return copy_out({}, buffer, size);
    }
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
