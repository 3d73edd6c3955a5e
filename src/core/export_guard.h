// The one wrapper every export goes through.
//
// It takes the process-wide core lock (a host may call from a GUI thread and
// a worker at once), runs the export's body, copies the result out by the
// buffer convention, and keeps every exception on this side of the C
// boundary. Running out of memory gives a fixed answer that needs no memory.
#pragma once

#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "core/text_utils.h"

namespace vx {

inline constexpr std::string_view kOutOfMemoryResult =
    "{\"ok\":false,\"stage\":\"out-of-memory\",\"error\":\"The core ran out of memory.\"}";
inline constexpr std::string_view kInternalErrorResult =
    "{\"ok\":false,\"stage\":\"internal-error\",\"error\":\"The core met an unexpected error.\"}";

// Serialises all exports except VX_GetLastLog.
std::mutex& core_mutex();

// body() returns the finished result text.
template <typename Body>
int guarded_result(char* buffer, int size, Body&& body) noexcept {
    try {
        std::string result;
        {
            std::lock_guard<std::mutex> lock(core_mutex());
            result = std::forward<Body>(body)();
        }
        return copy_out(result, buffer, size);
    } catch (const std::bad_alloc&) {
        return copy_out(kOutOfMemoryResult, buffer, size);
    } catch (...) {
        return copy_out(kInternalErrorResult, buffer, size);
    }
}

// For exports without a result text: body() returns the export's int;
// fallback is returned if anything escapes.
template <typename Body>
int guarded_call(int fallback, Body&& body) noexcept {
    try {
        std::lock_guard<std::mutex> lock(core_mutex());
        return std::forward<Body>(body)();
    } catch (...) {
        return fallback;
    }
}

}  // namespace vx
