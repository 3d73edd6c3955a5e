// Why a PassThru library could not be bound. The core answers a load failure
// with one fixed text and no reason; a person at the command line wants to
// know whether the file is missing, cannot be loaded, or lacks an entry point.
#pragma once

#include <string>

namespace vxdiag {

// A sentence naming the cause, e.g. "/x/y.so: no such file" or "... lacks the
// SAE J2534-1 entry points PassThruIoctl"; empty when the library loads and
// has every required entry point.
std::string explain_passthru_library_failure(const std::string& path);

}  // namespace vxdiag
