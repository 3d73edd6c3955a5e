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

// What a PassThru library is, for the demo: its commands are meant for the
// simulated vehicle, not for whatever car a vendor interface is plugged into.
enum class PassThruLibraryKind { Unloadable, SimulatedVci, Vendor };

// The simulated VCI is recognised by its test back door (sim_reset).
PassThruLibraryKind passthru_library_kind(const std::string& path);

}  // namespace vxdiag
