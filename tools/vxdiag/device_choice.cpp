#include "device_choice.h"

#include "json_members.h"
#include "step_catalogue.h"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <algorithm>
#include <cctype>
#include <iterator>
#include <vector>

namespace vxdiag {

namespace {

struct Registration {
    std::string key;
    std::string name;
    std::string dll;
};

std::vector<Registration> registrations(const Json& result) {
    std::vector<Registration> found;
    const auto devices = result.is_object() ? result.find("devices") : result.end();
    if (!result.is_object() || devices == result.end() || !devices->is_array()) return found;
    for (const Json& device : *devices) {
        if (!device.is_object()) continue;
        found.push_back({text_of(device, "key"), text_of(device, "name"), text_of(device, "dll")});
    }
    return found;
}

bool same_name(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

std::string choices(const std::vector<Registration>& list) {
    if (list.empty()) return "no PassThru library is registered (see vxdiag devices)";
    std::vector<std::string> texts;
    for (const Registration& r : list) texts.push_back(fmt::format("key '{}' name '{}' ({})", r.key, r.name, r.dll));
    return fmt::format("registered: {}", fmt::join(texts, "; "));
}

}  // namespace

std::string choose_device(const Json& devices_result, const std::string& wanted) {
    const std::vector<Registration> list = registrations(devices_result);
    for (const Registration& r : list) {
        if (r.key == wanted) return r.dll;
    }
    std::vector<Registration> named;
    std::copy_if(list.begin(), list.end(), std::back_inserter(named),
                 [&](const Registration& r) { return same_name(r.name, wanted); });
    if (named.size() == 1) return named.front().dll;
    if (named.empty()) {
        throw UsageError(
            fmt::format("--device '{}': no registration has that key or name; {}", wanted, choices(list)));
    }
    throw UsageError(fmt::format("--device '{}': {} registrations have that name, pick one by its key; {}", wanted,
                                 named.size(), choices(named)));
}

}  // namespace vxdiag
