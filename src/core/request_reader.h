// Reads fields out of the JSON-like request texts of the command exports.
//
// This is deliberately not a JSON parser: hosts send loosely formed texts, and
// each field is found where its quoted key first occurs anywhere in the text,
// its value read after the next colon. A null request behaves like an empty
// one.
#pragma once

#include <string>
#include <string_view>

#include "platform/ascii_case.h"

namespace vx {

class RequestFields {
public:
    // The request text must outlive this. Each key is searched for when it
    // is asked for.
    explicit RequestFields(const char* request);

    // The value of "key" as text; empty when absent, without colon or empty.
    std::string text(std::string_view key) const;

    // The value converted like strtol in base 10 (clamped to the int range),
    // or fallback when the text is empty. Non-numeric text gives 0.
    int integer(std::string_view key, int fallback) const;

    // True when the lowercased value is exactly "true", "1" or "yes".
    bool flag(std::string_view key) const;

private:
    std::string_view request_;
};

}  // namespace vx
