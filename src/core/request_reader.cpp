#include "core/request_reader.h"

#include <algorithm>
#include <climits>
#include <cstdint>

namespace vx {

namespace {

bool is_request_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// isspace in the C locale, which strtol skips.
bool is_c_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// A quoted value runs to its closing quote or the end of the text; its
// escapes are decoded.
std::string read_quoted(std::string_view rest) {
    std::string value;
    for (std::size_t i = 0; i < rest.size() && rest[i] != '"'; ++i) {
        if (rest[i] != '\\') {
            value.push_back(rest[i]);
            continue;
        }
        if (++i == rest.size()) break;  // a lone trailing backslash adds nothing
        switch (rest[i]) {
            case 'n': value.push_back('\n'); break;
            case 'r': value.push_back('\r'); break;
            case 't': value.push_back('\t'); break;
            default: value.push_back(rest[i]); break;  // ", \, / and anything else: itself
        }
    }
    return value;
}

// A bare value runs to the first comma or closing brace. Only blanks and TABs
// are trimmed: a trailing CR or LF stays in the value.
std::string_view read_bare(std::string_view rest) {
    std::string_view value = rest.substr(0, rest.find_first_of(",}"));
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
    return value;
}

int parse_int_like_strtol(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size() && is_c_space(text[pos])) ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    // Accumulate the magnitude, saturating just past the int range so that
    // arbitrarily long digit runs clamp instead of overflowing.
    constexpr std::int64_t kSaturation = static_cast<std::int64_t>(INT_MAX) + 2;
    std::int64_t magnitude = 0;
    for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
        magnitude = std::min(magnitude * 10 + (text[pos] - '0'), kSaturation);
    }
    const std::int64_t value = negative ? -magnitude : magnitude;
    return static_cast<int>(std::clamp<std::int64_t>(value, INT_MIN, INT_MAX));
}

}  // namespace

RequestFields::RequestFields(const char* request)
    : request_(request != nullptr ? std::string_view(request) : std::string_view()) {}

std::string RequestFields::text(std::string_view key) const {
    const std::string quoted_key = '"' + std::string(key) + '"';
    const std::size_t hit = request_.find(quoted_key);
    if (hit == std::string_view::npos) return {};
    const std::size_t colon = request_.find(':', hit + quoted_key.size());
    if (colon == std::string_view::npos) return {};
    std::size_t pos = colon + 1;
    while (pos < request_.size() && is_request_space(request_[pos])) ++pos;
    if (pos == request_.size()) return {};
    if (request_[pos] == '"') return read_quoted(request_.substr(pos + 1));
    return std::string(read_bare(request_.substr(pos)));
}

int RequestFields::integer(std::string_view key, int fallback) const {
    const std::string value = text(key);
    return value.empty() ? fallback : parse_int_like_strtol(value);
}

bool RequestFields::flag(std::string_view key) const {
    const std::string value = ascii_lowercase(text(key));
    return value == "true" || value == "1" || value == "yes";
}

}  // namespace vx
