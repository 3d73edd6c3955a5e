#include "core/raw_log.h"

#include <cstring>
#include <mutex>

#include "core/text_utils.h"
#include "platform/clock.h"

namespace vx {

namespace {

// The log has its own short lock: appends and reads copy bytes under it and
// nothing else, so VX_GetLastLog never waits for a PassThru call.
std::mutex g_log_mutex;
std::string g_log;  // constant-initialised (empty), nothing runs at load

// The longest timestamp: six fields of at most 11 characters (sign and ten
// digits of an int) and five separators.
constexpr std::size_t kTimestampCapacity = 6 * 11 + 5;

// One "%0<width>d" conversion written at p: a minus sign for negative values,
// then the digits of the magnitude, zero-filled so that sign and digits
// together take at least width characters; wider values keep all their
// digits. Returns the end of what it wrote.
char* put_zero_padded(char* p, int value, std::size_t width) {
    unsigned magnitude = static_cast<unsigned>(value);
    if (value < 0) {
        *p++ = '-';
        if (width != 0) --width;
        magnitude = 0u - magnitude;
    }
    char digits[10];
    std::size_t count = 0;
    do {
        digits[sizeof digits - ++count] = static_cast<char>('0' + magnitude % 10u);
        magnitude /= 10u;
    } while (magnitude != 0);
    for (; width > count; --width) *p++ = '0';
    for (std::size_t i = sizeof digits - count; i < sizeof digits; ++i) *p++ = digits[i];
    return p;
}

// "%04d-%02d-%02d %02d:%02d:%02d", e.g. 2024-03-05 09:07:31, into a fixed
// buffer: formatting a line's timestamp needs no allocation.
std::size_t format_timestamp(char (&out)[kTimestampCapacity], const platform::LocalTime& t) {
    const auto two_digits = [](int value) { return value >= 0 && value <= 99; };
    if (t.year >= 0 && t.year <= 9999 && two_digits(t.month) && two_digits(t.day) && two_digits(t.hour) &&
        two_digits(t.minute) && two_digits(t.second)) {
        // Every clock reading in practice: each field fills its width exactly.
        const auto put = [&out](std::size_t at, int value, int digits) {
            for (int i = digits - 1; i >= 0; --i, value /= 10) out[at + static_cast<std::size_t>(i)] = static_cast<char>('0' + value % 10);
        };
        put(0, t.year, 4);
        put(5, t.month, 2);
        put(8, t.day, 2);
        put(11, t.hour, 2);
        put(14, t.minute, 2);
        put(17, t.second, 2);
        out[4] = out[7] = '-';
        out[10] = ' ';
        out[13] = out[16] = ':';
        return 19;
    }
    char* p = out;
    p = put_zero_padded(p, t.year, 4);
    *p++ = '-';
    p = put_zero_padded(p, t.month, 2);
    *p++ = '-';
    p = put_zero_padded(p, t.day, 2);
    *p++ = ' ';
    p = put_zero_padded(p, t.hour, 2);
    *p++ = ':';
    p = put_zero_padded(p, t.minute, 2);
    *p++ = ':';
    p = put_zero_padded(p, t.second, 2);
    return static_cast<std::size_t>(p - out);
}

}  // namespace

void log_line(std::string_view text, LineEnd end) { log_line({text}, end); }

void log_line(std::initializer_list<std::string_view> text, LineEnd end) {
    char stamp[kTimestampCapacity];
    const std::size_t stamp_size = format_timestamp(stamp, platform::local_time());
    const std::string_view line_end = end == LineEnd::CrLf ? "\r\n" : "\n";
    std::size_t text_size = 0;
    for (const std::string_view piece : text) text_size += piece.size();

    std::lock_guard<std::mutex> lock(g_log_mutex);
    // Room for the whole line first (growing geometrically, so appending stays
    // linear): reserve has no effect when it throws, and nothing after it can
    // throw, so a line is either appended whole or not at all.
    const std::size_t needed = g_log.size() + stamp_size + text_size + line_end.size();
    if (needed > g_log.capacity()) {
        const std::size_t doubled = 2 * g_log.capacity();
        g_log.reserve(doubled > needed && doubled <= g_log.max_size() ? doubled : needed);
    }
    // One resize and plain copies rather than an append per piece.
    const std::size_t start = g_log.size();
    g_log.resize(needed);
    char* p = g_log.data() + start;
    std::memcpy(p, stamp, stamp_size);
    p += stamp_size;
    for (const std::string_view piece : text) {
        if (piece.empty()) continue;  // its data may be null, which memcpy must not see
        std::memcpy(p, piece.data(), piece.size());
        p += piece.size();
    }
    std::memcpy(p, line_end.data(), line_end.size());
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
