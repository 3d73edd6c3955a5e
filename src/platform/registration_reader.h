// One interface's file of the Linux PassThru registration convention: a JSON
// object with the members NAME, VENDOR and FUNCTION_LIB. The core reads it
// where the registration folder stands in for the registry (not on Windows);
// vxdiag reads it to say why the core passed over a file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vx::platform {

// A registration names three short texts; a file far larger is not one and
// is not read into memory.
inline constexpr std::uintmax_t kMaxRegistrationFileBytes = 1024 * 1024;

struct PassThruRegistration {
    std::optional<std::string> name;              // NAME
    std::optional<std::string> vendor;            // VENDOR
    std::optional<std::string> function_library;  // FUNCTION_LIB, "~" expanded
};

// Parses the text of one registration file. Returns nothing when the text is
// not a JSON object; members that are not strings are left absent. A leading
// "~" alone or followed by "/" in FUNCTION_LIB becomes home ("~user" forms are
// kept as they are). Never throws except std::bad_alloc.
std::optional<PassThruRegistration> parse_passthru_registration(std::string_view text, std::string_view home);

}  // namespace vx::platform
