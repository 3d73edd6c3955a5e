#include "platform/dynamic_library.h"

#if defined(_WIN32)
#  include <windows.h>
#elif defined(__unix__) || defined(__APPLE__)
#  include <dlfcn.h>
#else
#  error "No dynamic loading for this operating system"
#endif

#include <cstring>

namespace vx::platform {

#if defined(_WIN32)

namespace {
bool is_absolute_path(const char* path) {
    const bool drive = std::strlen(path) >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
    const bool unc = (path[0] == '\\' && path[1] == '\\') || (path[0] == '/' && path[1] == '/');
    return drive || unc;
}
}  // namespace

LibraryHandle load_library(const char* path) {
    if (path == nullptr || path[0] == '\0') return nullptr;
    // LOAD_WITH_ALTERED_SEARCH_PATH makes Windows look for the library's own
    // dependencies in its folder first; it is only defined for absolute paths.
    const DWORD flags = is_absolute_path(path) ? LOAD_WITH_ALTERED_SEARCH_PATH : 0;
    return reinterpret_cast<LibraryHandle>(LoadLibraryExA(path, nullptr, flags));
}

std::string last_load_error() {
    const DWORD code = GetLastError();
    char text[512] = {};
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                   code, 0, text, sizeof(text) - 1, nullptr);
    if (n == 0) return "error " + std::to_string(code);
    return std::string(text, n);
}

void* find_symbol(LibraryHandle library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void free_library(LibraryHandle library) {
    if (library != nullptr) FreeLibrary(static_cast<HMODULE>(library));
}

#else

LibraryHandle load_library(const char* path) {
    // dlopen would hand back the host program itself for a null or empty
    // name; only a real path names a library.
    if (path == nullptr || path[0] == '\0') return nullptr;
    return dlopen(path, RTLD_NOW | RTLD_LOCAL);
}

std::string last_load_error() {
    const char* text = dlerror();
    return text != nullptr ? std::string(text) : std::string();
}

void* find_symbol(LibraryHandle library, const char* name) {
    return dlsym(library, name);
}

void free_library(LibraryHandle library) {
    if (library != nullptr) dlclose(library);
}

#endif

}  // namespace vx::platform
