// Reads fields out of the JSON-like request texts of the command exports.
//
// This is deliberately not a JSON parser: hosts send loosely formed texts, and
// each field is found where its quoted key first occurs anywhere in the text,
// its value read after the next colon. A null request behaves like an empty
// one. The keys an export reads are all found in one pass over the text.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace vx {

class RequestFields {
public:
    // The most keys one request is read for.
    static constexpr std::size_t kMaxKeys = 12;

    // Finds the first occurrence of each "key" in one pass over request.
    // Only the first kMaxKeys keys are indexed; the request text and the keys
    // must outlive this.
    RequestFields(const char* request, std::span<const std::string_view> keys);

    // The value of "key" as text; empty when absent, without colon or empty.
    // A key that was not named at construction is searched for on its own.
    std::string text(std::string_view key) const;

    // The value converted like strtol in base 10 (clamped to the int range),
    // or fallback when the text is empty. Non-numeric text gives 0.
    int integer(std::string_view key, int fallback) const;

    // True when the lowercased value is exactly "true", "1" or "yes".
    bool flag(std::string_view key) const;

private:
    std::size_t position_of(std::string_view key) const;

    std::string_view request_;
    std::span<const std::string_view> keys_;
    std::array<std::size_t, kMaxKeys> positions_{};
};

// ASCII A-Z to a-z; every other byte unchanged.
std::string ascii_lowercase(std::string_view text);

}  // namespace vx
