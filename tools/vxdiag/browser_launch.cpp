#include "browser_launch.h"

#ifdef _WIN32
#  include <windows.h>
#  include <shellapi.h>
#else
#  include <spawn.h>
#  include <sys/wait.h>
extern char** environ;
#endif

namespace vxdiag {

bool open_in_browser(const std::string& address) {
#ifdef _WIN32
    // ShellExecute answers a value above 32 on success.
    const auto result = ShellExecuteA(nullptr, "open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    return reinterpret_cast<INT_PTR>(result) > 32;
#else
    // xdg-open (freedesktop) on Linux, open on macOS; the address is passed as
    // one argument, never through a shell.
    for (const char* opener : {"xdg-open", "open"}) {
        char* const arguments[] = {const_cast<char*>(opener), const_cast<char*>(address.c_str()), nullptr};
        pid_t child = 0;
        if (posix_spawnp(&child, opener, nullptr, nullptr, arguments, environ) == 0) return true;
    }
    return false;
#endif
}

}  // namespace vxdiag
