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
    explicit ResultWriter(std::size_t capacity = 256) { text_.reserve(capacity); }

    // A constant fragment, appended unchanged.
    ResultWriter& raw(std::string_view fragment) {
        text_.append(fragment);
        return *this;
    }
    // A text value from outside (request field, path, status text): escaped.
    ResultWriter& text(std::string_view value) {
        append_json_escaped(text_, value);
        return *this;
    }
    ResultWriter& boolean(bool value) {
        text_.append(value ? "true" : "false");
        return *this;
    }
    // Statuses and other signed values.
    ResultWriter& signed_number(std::int64_t value) {
        append_decimal(text_, value);
        return *this;
    }
    // Identifiers, counts, sizes, flags, millivolts.
    ResultWriter& unsigned_number(std::uint64_t value) {
        append_unsigned(text_, value);
        return *this;
    }
    // A value held in tenths, with exactly one decimal.
    ResultWriter& tenths(std::uint64_t value) {
        append_tenths(text_, value);
        return *this;
    }
    ResultWriter& hex(std::span<const std::uint8_t> bytes) {
        append_hex_bytes(text_, bytes.data(), bytes.size());
        return *this;
    }

    const std::string& str() const { return text_; }
    std::string take() { return std::move(text_); }

private:
    std::string text_;
};

}  // namespace vx
