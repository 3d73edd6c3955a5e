// vxdiag: a minimal host for the diagnostics core.
//
// Like the desktop host, it loads the core library by its full path at run
// time and calls its C exports through function pointers of the exact types
// the public header declares (cdecl on 32-bit Windows).
//
//   vxdiag [--core <path>] [version]
//
// The default core path is the library built beside this program.
#include "VXArvessaDiagCore.h"
#include "platform/dynamic_library.h"

#include <cstdio>
#include <cstring>
#include <string>

#ifndef VXDIAG_DEFAULT_CORE_PATH
#  define VXDIAG_DEFAULT_CORE_PATH ""
#endif

namespace {

using CoreVersionFn = decltype(&VX_CoreVersion);

int usage() {
    std::fputs("usage: vxdiag [--core <path to the core library>] [version]\n", stderr);
    return 2;
}

// Owns the loaded core for the program's lifetime.
class LoadedCore {
public:
    explicit LoadedCore(const std::string& path) : handle_(vx::platform::load_library(path.c_str())) {}
    ~LoadedCore() { vx::platform::free_library(handle_); }
    LoadedCore(const LoadedCore&) = delete;
    LoadedCore& operator=(const LoadedCore&) = delete;

    bool loaded() const { return handle_ != nullptr; }

    template <typename Fn>
    Fn find(const char* name) const {
        return reinterpret_cast<Fn>(vx::platform::find_symbol(handle_, name));
    }

private:
    vx::platform::LibraryHandle handle_;
};

int print_version(const LoadedCore& core) {
    const auto core_version = core.find<CoreVersionFn>("VX_CoreVersion");
    if (core_version == nullptr) {
        std::fputs("vxdiag: the core library does not export VX_CoreVersion\n", stderr);
        return 1;
    }
    const char* text = core_version();
    std::printf("VX_CoreVersion: %s\n", text != nullptr ? text : "(null)");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string core_path = VXDIAG_DEFAULT_CORE_PATH;
    std::string command = "version";
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--core") == 0 && i + 1 < argc) {
            core_path = argv[++i];
        } else if (argv[i][0] != '-') {
            command = argv[i];
        } else {
            return usage();
        }
    }
    if (core_path.empty()) return usage();

    const LoadedCore core(core_path);
    if (!core.loaded()) {
        std::fprintf(stderr, "vxdiag: cannot load the core library %s: %s\n", core_path.c_str(),
                     vx::platform::last_load_error().c_str());
        return 1;
    }
    if (command == "version") return print_version(core);
    return usage();
}
