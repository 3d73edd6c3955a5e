// Which operating system this build is for, as a constant that code outside
// platform/ can test (e.g. to skip a test that only makes sense on one OS)
// without preprocessor conditionals of its own.
#pragma once

namespace vx::platform {

constexpr bool is_windows() {
#if defined(_WIN32)
    return true;
#else
    return false;
#endif
}

}  // namespace vx::platform
