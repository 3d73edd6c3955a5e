#include "platform/environment.h"

#if defined(_WIN32)
#  include <windows.h>
#elif defined(__unix__) || defined(__APPLE__)
#  include <stdlib.h>
#else
#  error "No process environment for this operating system"
#endif

#include <cstdlib>
#include <vector>

namespace vx::platform {

#if defined(_WIN32)

std::optional<std::string> environment_variable(const char* name) {
    // The size is asked first: the value has no length limit worth assuming.
    const DWORD needed = GetEnvironmentVariableA(name, nullptr, 0);
    if (needed == 0) {
        if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
        return std::string();
    }
    std::vector<char> value(needed + 1, '\0');
    const DWORD length = GetEnvironmentVariableA(name, value.data(), static_cast<DWORD>(value.size()));
    if (length == 0 || length >= value.size()) return std::nullopt;
    return std::string(value.data(), length);
}

bool set_environment_variable(const char* name, const char* value) {
    // Both the Win32 block and the C runtime's copy, so getenv agrees.
    if (SetEnvironmentVariableA(name, value) == 0) return false;
    return _putenv_s(name, value != nullptr ? value : "") == 0;
}


#else

std::optional<std::string> environment_variable(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

bool set_environment_variable(const char* name, const char* value) {
    if (value == nullptr) return unsetenv(name) == 0;
    return setenv(name, value, 1) == 0;
}


#endif

}  // namespace vx::platform
