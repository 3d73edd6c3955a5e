// `vxdiag serve --open`: the page in the user's default browser.
#pragma once

#include <string>

namespace vxdiag {

// Starts the default browser on the address without waiting for it; false
// when no browser could be started.
bool open_in_browser(const std::string& address);

}  // namespace vxdiag
