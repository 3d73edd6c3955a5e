// What "devices" adds to the core's list: where the registrations were looked
// for and, for registration files, each one passed over and why. The core's
// answer says neither, and an empty list alone leaves a person guessing.
#pragma once

#include <string>
#include <vector>

namespace vxdiag {

// One note per line. The place looked in is named when `none_registered`;
// skipped registration files (~/.passthru/*.json: not JSON, no FUNCTION_LIB,
// too large) are named always.
std::vector<std::string> registration_notes(bool none_registered);

}  // namespace vxdiag
