// Reads fields out of the JSON-like request texts of the command exports.
//
// This is deliberately not a JSON parser: hosts send loosely formed texts, and
// each field is found where its quoted key first occurs anywhere in the text,
// its value read after the next colon. A null request behaves like an empty
// one.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace vx {

// The keys an export reads, as the exports name them.
using RequestKeys = std::span<const std::string_view>;

class RequestFields {
public:
    // The request text must outlive this. Each key is searched for when it
    // is asked for; the keys an export names are not needed to find them and
    // are accepted only so that an export can list what it reads.
    explicit RequestFields(const char* request, RequestKeys keys = {});

    // The value of "key" as text; empty when absent, without colon or empty.
    std::string text(std::string_view key) const;
    // The same without a copy where the value stands in the request as it
    // is (no escapes): a view of the request, or else of storage.
    std::string_view text_view(std::string_view key, std::string& storage) const;

    // The value converted like strtol in base 10 (clamped to the int range),
    // or fallback when the text is empty. Non-numeric text gives 0.
    int integer(std::string_view key, int fallback) const;

    // True when the lowercased value is exactly "true", "1" or "yes".
    bool flag(std::string_view key) const;

private:
    std::string_view request_;
};

// ASCII A-Z to a-z; every other byte unchanged. Changes the text it is
// given, so a temporary is lowercased without a copy.
std::string ascii_lowercase(std::string text);

}  // namespace vx
