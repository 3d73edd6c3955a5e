#include "json_members.h"

#include <fmt/format.h>

namespace vxdiag {

Json parse_json(const std::string& text) { return Json::parse(text, nullptr, false); }

std::string text_of(const Json& j, const char* key) {
    const auto it = j.find(key);
    return it != j.end() && it->is_string() ? it->get<std::string>() : std::string();
}

std::optional<std::int64_t> integer_of(const Json& j, const char* key) {
    const auto it = j.find(key);
    if (it == j.end() || !it->is_number_integer()) return std::nullopt;
    return it->get<std::int64_t>();
}

bool flag_of(const Json& j, const char* key) {
    const auto it = j.find(key);
    return it != j.end() && it->is_boolean() && it->get<bool>();
}

std::string status_text(const Json& j, const char* rc_key, const char* name_key) {
    const auto rc = integer_of(j, rc_key);
    std::string name = text_of(j, name_key);
    if (!rc) return name;
    if (name.empty()) return fmt::format("rc {}", *rc);
    if (*rc == 0) return name;
    return fmt::format("{} (rc {})", name, *rc);
}

std::vector<std::string> reply_hexes(const Json& j, const char* key) {
    std::vector<std::string> hexes;
    const auto it = j.find(key);
    if (it == j.end() || !it->is_array()) return hexes;
    for (const Json& entry : *it) {
        if (entry.is_object()) hexes.push_back(text_of(entry, "hex"));
    }
    return hexes;
}

bool simulated(const Json& j) {
    // The readings mark a simulated answer by their mode, the rest by a flag.
    const std::string mode = text_of(j, "mode");
    return flag_of(j, "simulation") || mode == "simulation" || mode == "Simulation";
}

}  // namespace vxdiag
