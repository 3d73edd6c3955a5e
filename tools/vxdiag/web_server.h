// `vxdiag serve`: the page of a desktop host, served by vxdiag on 127.0.0.1
// only, to the one browser that was given its address and token.
#pragma once

#include "core_library.h"

#include <cstdint>
#include <string>

namespace vxdiag {

struct ServeOptions {
    std::uint16_t port = 0;        // 0: any free port
    bool open_browser = false;     // open the page in the default browser
    unsigned idle_seconds = 120;   // a page silent this long loses the device
};

// Serves until an interrupt request; then lets the running export finish,
// closes the device and returns 128 + the signal number (130, 143, 129).
// Returns 1 when the server cannot listen.
int serve(const CoreLibrary& core, const std::string& library, const ServeOptions& options);

// The page with its scripts and styles, compiled into vxdiag.
extern const char* const kWebPage;

}  // namespace vxdiag
