// Builds one JSON result text by appending fragments and converted values.
//
//   ResultWriter w;
//   w.raw("{\"ok\":").boolean(true).raw(",\"dll\":\"").text(path).raw("\"}");
//
// Fragments carry the punctuation and member names; values are converted here.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "core/text_utils.h"

namespace vx {

class ResultWriter {
public:
    // A constant fragment, appended unchanged.
    ResultWriter& raw(std::string_view fragment) {
        text_ += fragment;
        return *this;
    }
    // A text value from outside (request field, path, status text): escaped.
    ResultWriter& text(std::string_view value) { return raw(json_escaped_text(value)); }
    ResultWriter& boolean(bool value) { return raw(value ? "true" : "false"); }
    // Statuses and other signed values.
    ResultWriter& signed_number(std::int64_t value) { return raw(std::to_string(value)); }
    // Identifiers, counts, sizes, flags, millivolts.
    ResultWriter& unsigned_number(std::uint64_t value) { return raw(std::to_string(value)); }
    // A value held in tenths, with exactly one decimal.
    ResultWriter& tenths(std::uint64_t value) { return raw(tenths_text(value)); }
    ResultWriter& hex(std::span<const std::uint8_t> bytes) { return raw(hex_bytes_text(bytes)); }

    std::string_view str() const { return text_; }
    std::string take() const { return text_; }

private:
    std::string text_;
};

}  // namespace vx
