// Fuzz target for the ~/.passthru registration file parser: arbitrary file
// texts, read with two different home folders.
//
// Checks beyond "no crash, no exception": the home folder only ever changes a
// FUNCTION_LIB that begins with "~/" or is "~" (and then only by the home that
// replaces the "~"), and JSON white space before the text changes nothing.
#include "platform/registration_reader.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <optional>
#include <string>
#include <string_view>

namespace {

using vx::platform::parse_passthru_registration;
using vx::platform::PassThruRegistration;

bool same(const std::optional<PassThruRegistration>& a, const std::optional<PassThruRegistration>& b) {
    if (a.has_value() != b.has_value()) return false;
    if (!a) return true;
    return a->name == b->name && a->vendor == b->vendor && a->function_library == b->function_library;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        const auto at_home = parse_passthru_registration(text, "/home/tester");
        const auto elsewhere = parse_passthru_registration(text, "/srv/other/");
        if (at_home.has_value() != elsewhere.has_value()) std::abort();
        if (!same(at_home, parse_passthru_registration(" \t\r\n" + std::string(text), "/home/tester"))) std::abort();
        if (!at_home) return 0;
        if (at_home->name != elsewhere->name || at_home->vendor != elsewhere->vendor) std::abort();
        if (at_home->function_library.has_value() != elsewhere->function_library.has_value()) std::abort();
        if (!at_home->function_library) return 0;

        const std::string& first = *at_home->function_library;
        const std::string& second = *elsewhere->function_library;
        constexpr std::string_view kHome = "/home/tester";
        constexpr std::string_view kOther = "/srv/other";
        if (first.starts_with(kHome) && second.starts_with(kOther) &&
            first.substr(kHome.size()) == second.substr(kOther.size())) {
            // Expanded: what followed the "~" is kept, and it was "" or began with "/".
            const std::string rest = first.substr(kHome.size());
            if (!rest.empty() && rest[0] != '/') std::abort();
        } else if (first != second) {
            std::abort();
        }
    } catch (const std::bad_alloc&) {
        // Out of memory is the one exception the parser may pass on.
    }
    return 0;
}
