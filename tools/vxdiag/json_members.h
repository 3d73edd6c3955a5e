// Reading the members of the core's result texts leniently: a member that is
// missing or of another type reads as absent, never as an exception, so an
// unexpected result still gets a readable line.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vxdiag {

using Json = nlohmann::json;

// The text as JSON; a discarded value when it is none.
Json parse_json(const std::string& text);

std::string text_of(const Json& j, const char* key);
std::optional<std::int64_t> integer_of(const Json& j, const char* key);
bool flag_of(const Json& j, const char* key);

// "STATUS_NOERROR", or "ERR_TIMEOUT (rc 9)" for any other status.
std::string status_text(const Json& j, const char* rc_key, const char* name_key);

// The hex texts of the messages of an rx list (the member `key`).
std::vector<std::string> reply_hexes(const Json& j, const char* key);

// True when the core's answer stands in for the K-line: the simulation
// switch was on, so nothing was sent and nothing came from a vehicle.
bool simulated(const Json& j);

}  // namespace vxdiag
