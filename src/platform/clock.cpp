#include "platform/clock.h"

#include "platform/clock_hooks.h"

#if defined(_WIN32)
#  include <windows.h>
#elif defined(__unix__) || defined(__APPLE__)
#  include <errno.h>
#  include <time.h>
#else
#  error "No clock for this operating system"
#endif

#include <atomic>

namespace vx::platform {

namespace {

std::atomic<LocalTime (*)()> g_local_time{nullptr};
std::atomic<std::uint32_t (*)()> g_tick_count{nullptr};
std::atomic<void (*)(std::uint32_t)> g_sleep{nullptr};

LocalTime system_local_time() {
#if defined(_WIN32)
    SYSTEMTIME st;
    GetLocalTime(&st);
    return {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond};
#else
    const time_t now = time(nullptr);
    struct tm parts {};
    localtime_r(&now, &parts);
    return {parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec};
#endif
}

std::uint32_t system_tick_count() {
#if defined(_WIN32)
    return static_cast<std::uint32_t>(GetTickCount());
#else
    struct timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const auto ms = static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
                    static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(ms);
#endif
}

void system_sleep(std::uint32_t milliseconds) {
#if defined(_WIN32)
    Sleep(milliseconds);
#else
    struct timespec ts {};
    ts.tv_sec = static_cast<time_t>(milliseconds / 1000u);
    ts.tv_nsec = static_cast<long>(milliseconds % 1000u) * 1000000L;
    // Resume with the remaining time after a signal; stop on any other error
    // instead of spinning.
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
#endif
}

}  // namespace

LocalTime local_time() {
    const auto hook = g_local_time.load(std::memory_order_acquire);
    return hook != nullptr ? hook() : system_local_time();
}

std::uint32_t tick_count_ms() {
    const auto hook = g_tick_count.load(std::memory_order_acquire);
    return hook != nullptr ? hook() : system_tick_count();
}

void sleep_ms(std::uint32_t milliseconds) {
    const auto hook = g_sleep.load(std::memory_order_acquire);
    if (hook != nullptr) {
        hook(milliseconds);
    } else {
        system_sleep(milliseconds);
    }
}

void set_clock_hooks(const ClockHooks* hooks) {
    g_local_time.store(hooks != nullptr ? hooks->local_time : nullptr, std::memory_order_release);
    g_tick_count.store(hooks != nullptr ? hooks->tick_count_ms : nullptr, std::memory_order_release);
    g_sleep.store(hooks != nullptr ? hooks->sleep_ms : nullptr, std::memory_order_release);
}

}  // namespace vx::platform
