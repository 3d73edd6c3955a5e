#include "core/request_reader.h"

#include <climits>
#include <cstdint>
#include <cstring>

namespace vx {

namespace {

bool is_request_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// isspace in the C locale, which strtol skips.
bool is_c_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Where "key" (quotes included) first occurs in text, or npos. Every field
// read searches the whole request, so this runs from quote to quote and looks
// at the closing quote before comparing the key.
std::size_t find_quoted_key(std::string_view text, std::string_view key) {
    const std::size_t needed = key.size() + 2;
    if (text.size() < needed) return std::string_view::npos;
    const char* const begin = text.data();
    const char* const last = begin + (text.size() - needed);  // the last place a match can start
    const char* p = begin;
    while (p <= last) {
        p = static_cast<const char*>(std::memchr(p, '"', static_cast<std::size_t>(last - p) + 1));
        if (p == nullptr) break;
        if (p[key.size() + 1] == '"' &&
            (key.empty() || std::memcmp(p + 1, key.data(), key.size()) == 0)) {
            return static_cast<std::size_t>(p - begin);
        }
        ++p;
    }
    return std::string_view::npos;
}

std::string read_quoted(std::string_view rest) {
    std::string value;
    for (std::size_t i = 0; i < rest.size(); ++i) {
        // The plain run up to the next quote or backslash, appended in one go.
        std::size_t run_end = i;
        while (run_end < rest.size() && rest[run_end] != '"' && rest[run_end] != '\\') ++run_end;
        value.append(rest.data() + i, run_end - i);
        i = run_end;
        if (i == rest.size() || rest[i] == '"') break;
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

std::string read_bare(std::string_view rest) {
    const std::size_t end = rest.find_first_of(",}");
    std::string_view value = rest.substr(0, end);
    // Only blanks and TABs are trimmed: a trailing CR or LF stays in the value.
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
    return std::string(value);
}

}  // namespace

std::string request_text(const char* request, std::string_view key) {
    if (request == nullptr) return {};
    const std::string_view text(request, std::strlen(request));

    const std::size_t hit = find_quoted_key(text, key);
    if (hit == std::string_view::npos) return {};
    const std::size_t colon = text.find(':', hit + key.size() + 2);
    if (colon == std::string_view::npos || colon + 1 >= text.size()) return {};

    std::size_t pos = colon + 1;
    while (pos < text.size() && is_request_space(text[pos])) ++pos;
    if (pos == text.size()) return {};

    if (text[pos] == '"') return read_quoted(text.substr(pos + 1));
    return read_bare(text.substr(pos));
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
        magnitude = magnitude * 10 + (text[pos] - '0');
        if (magnitude > kSaturation) magnitude = kSaturation;
    }
    const std::int64_t value = negative ? -magnitude : magnitude;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

int request_int(const char* request, std::string_view key, int fallback) {
    const std::string value = request_text(request, key);
    if (value.empty()) return fallback;
    return parse_int_like_strtol(value);
}

std::string ascii_lowercase(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

bool request_flag(const char* request, std::string_view key) {
    const std::string value = ascii_lowercase(request_text(request, key));
    return value == "true" || value == "1" || value == "yes";
}

}  // namespace vx
