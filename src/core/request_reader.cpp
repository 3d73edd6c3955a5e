#include "core/request_reader.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <span>

namespace vx {

namespace {

constexpr std::size_t kNotFound = std::string_view::npos;

bool is_request_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// isspace in the C locale, which strtol skips.
bool is_c_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Where each "key" (quotes included) first occurs in text, in one pass that
// jumps from quote to quote and looks at the closing quote before comparing
// a key.
void find_quoted_keys(std::string_view text, std::span<const std::string_view> keys,
                      std::span<std::size_t> positions) {
    std::fill(positions.begin(), positions.end(), kNotFound);
    std::size_t missing = keys.size();
    const char* const begin = text.data();
    const char* const end = begin + text.size();
    for (const char* p = begin; missing != 0 && p != end; ++p) {
        p = static_cast<const char*>(std::memchr(p, '"', static_cast<std::size_t>(end - p)));
        if (p == nullptr) break;
        const std::size_t room = static_cast<std::size_t>(end - p);
        for (std::size_t i = 0; i < keys.size(); ++i) {
            const std::string_view key = keys[i];
            if (positions[i] != kNotFound || key.size() + 2 > room || p[key.size() + 1] != '"') continue;
            if (key.empty() || std::memcmp(p + 1, key.data(), key.size()) == 0) {
                positions[i] = static_cast<std::size_t>(p - begin);
                --missing;
            }
        }
    }
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
    std::string_view value = rest.substr(0, rest.find_first_of(",}"));
    // Only blanks and TABs are trimmed: a trailing CR or LF stays in the value.
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
    return std::string(value);
}

// The value after the colon that follows the key found at hit.
std::string value_at(std::string_view text, std::size_t hit, std::size_t key_size) {
    if (hit == kNotFound) return {};
    const std::size_t colon = text.find(':', hit + key_size + 2);
    if (colon == kNotFound || colon + 1 >= text.size()) return {};
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
        magnitude = std::min(magnitude * 10 + (text[pos] - '0'), kSaturation);
    }
    const std::int64_t value = negative ? -magnitude : magnitude;
    return static_cast<int>(std::clamp<std::int64_t>(value, INT_MIN, INT_MAX));
}

}  // namespace

RequestFields::RequestFields(const char* request, std::span<const std::string_view> keys)
    : request_(request != nullptr ? std::string_view(request) : std::string_view()),
      keys_(keys.first(std::min(keys.size(), kMaxKeys))) {
    find_quoted_keys(request_, keys_, std::span(positions_.data(), keys_.size()));
}

std::size_t RequestFields::position_of(std::string_view key) const {
    for (std::size_t i = 0; i < keys_.size(); ++i) {
        if (keys_[i] == key) return positions_[i];
    }
    std::size_t position = kNotFound;
    find_quoted_keys(request_, std::span(&key, 1), std::span(&position, 1));
    return position;
}

std::string RequestFields::text(std::string_view key) const {
    return value_at(request_, position_of(key), key.size());
}

int RequestFields::integer(std::string_view key, int fallback) const {
    const std::string value = text(key);
    return value.empty() ? fallback : parse_int_like_strtol(value);
}

bool RequestFields::flag(std::string_view key) const {
    const std::string value = ascii_lowercase(text(key));
    return value == "true" || value == "1" || value == "yes";
}

std::string ascii_lowercase(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

}  // namespace vx
