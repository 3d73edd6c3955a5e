// What code outside platform/ may know of the operating system, without
// preprocessor conditionals of its own.
#pragma once

#if defined(_WIN32)
// The calling convention of the SAE J2534 entry points: WINAPI (__stdcall)
// on Windows; elsewhere the platform's default.
#  define VX_WINAPI __stdcall
#else
#  define VX_WINAPI
#endif

namespace vx::platform {

constexpr bool is_windows() {
#if defined(_WIN32)
    return true;
#else
    return false;
#endif
}

}  // namespace vx::platform
