// Reads fields out of the JSON-like request texts of the command exports.
//
// This is deliberately not a JSON parser: hosts send loosely formed texts, and
// each field is found by searching for its quoted key and reading the value
// after the next colon. A null request behaves like an empty one.
#pragma once

#include <string>
#include <string_view>

namespace vx {

// The value of "key" as text; empty when absent, without colon or empty.
std::string request_text(const char* request, std::string_view key);

// The value converted like strtol in base 10 (clamped to the int range), or
// fallback when the text is empty. Non-numeric text gives 0.
int request_int(const char* request, std::string_view key, int fallback);

// True when the lowercased value is exactly "true", "1" or "yes".
bool request_flag(const char* request, std::string_view key);

// ASCII A-Z to a-z; every other byte unchanged.
std::string ascii_lowercase(std::string_view text);

// The strtol-like conversion used by request_int, exposed for tests.
int parse_int_like_strtol(std::string_view text);

}  // namespace vx
