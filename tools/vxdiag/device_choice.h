// --device NAME|KEY: a registered PassThru library picked by its registration
// instead of its path, from the list VX_ListJ2534Devices answers.
#pragma once

#include "json_members.h"

#include <string>

namespace vxdiag {

// The library path of the registration whose key is `wanted`, else of the one
// registration named `wanted` (case does not matter). `devices_result` is the
// export's parsed result. Throws UsageError listing the registrations when none
// or several match.
std::string choose_device(const Json& devices_result, const std::string& wanted);

}  // namespace vxdiag
