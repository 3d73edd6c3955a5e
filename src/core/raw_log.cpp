#include "core/raw_log.h"

#include <cstdio>
#include <mutex>

#include "core/text_utils.h"
#include "platform/clock.h"

namespace vx {

namespace {

// The log has its own short lock: appends and reads copy bytes under it and
// nothing else, so VX_GetLastLog never waits for a PassThru call.
std::mutex g_log_mutex;
std::string g_log;  // constant-initialised (empty), nothing runs at load

// "YYYY-MM-DD hh:mm:ss" of the local time, e.g. 2024-03-05 09:07:31.
std::string timestamp() {
    const platform::LocalTime t = platform::local_time();
    char stamp[80];  // room for six ints of any value and the separators
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
    return stamp;
}

}  // namespace

void log_line(std::string_view text, LineEnd end) {
    // The whole line is built before the lock: appending it either succeeds
    // or, out of memory, leaves the log as it was.
    std::string line = timestamp();
    line += text;
    line += end == LineEnd::CrLf ? "\r\n" : "\n";
    std::lock_guard<std::mutex> lock(g_log_mutex);
    g_log += line;
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

void clear_log_for_tests() {
    std::lock_guard<std::mutex> lock(g_log_mutex);
    std::string().swap(g_log);
}

}  // namespace vx
