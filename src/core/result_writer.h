// Builds one JSON result text by appending fragments and converted values.
//
//   ResultWriter w;
//   w.raw("{\"ok\":").boolean(true).raw(",\"dll\":\"").text(path).raw("\"}");
//
// Fragments carry the punctuation and member names; values are converted here.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "core/text_utils.h"

namespace vx {

class ResultWriter {
public:
    ResultWriter() = default;
    // str() points into the writer itself.
    ResultWriter(const ResultWriter&) = delete;
    ResultWriter& operator=(const ResultWriter&) = delete;

    // A constant fragment, appended unchanged.
    ResultWriter& raw(std::string_view fragment) {
        if (fragment.empty()) return *this;  // its data may be null, which memcpy must not see
        std::memcpy(room(fragment.size()), fragment.data(), fragment.size());
        size_ += fragment.size();
        return *this;
    }
    // A text value from outside (request field, path, status text): escaped.
    ResultWriter& text(std::string_view value) {
        return put(value.size() * kMostJsonEscapedPerByte, [value](char* p) { return write_json_escaped(p, value); });
    }
    ResultWriter& boolean(bool value) { return value ? raw("true") : raw("false"); }
    // Statuses and other signed values.
    ResultWriter& signed_number(std::int64_t value) {
        return put(kMostDecimalChars, [value](char* p) { return write_decimal(p, value); });
    }
    // Identifiers, counts, sizes, flags, millivolts.
    ResultWriter& unsigned_number(std::uint64_t value) {
        return put(kMostDecimalChars, [value](char* p) { return write_unsigned(p, value); });
    }
    // A value held in tenths, with exactly one decimal.
    ResultWriter& tenths(std::uint64_t value) {
        return put(kMostTenthsChars, [value](char* p) { return write_tenths(p, value); });
    }
    ResultWriter& hex(std::span<const std::uint8_t> bytes) {
        return put(3 * bytes.size(), [bytes](char* p) { return write_hex_bytes(p, bytes.data(), bytes.size()); });
    }

    std::string_view str() const { return {data_, size_}; }
    std::string take() const { return std::string(data_, size_); }

private:
    // Most results fit here, so that building one writes into the writer's
    // own memory (a fragment of known size becomes a few moves) and only the
    // finished text is allocated; a longer one moves to the heap.
    static constexpr std::size_t kInlineBytes = 1024;

    // Writes at most `most` bytes at the end through write(p), which returns
    // the end of what it wrote.
    template <typename Write>
    ResultWriter& put(std::size_t most, Write&& write) {
        char* const begin = room(most);
        size_ += static_cast<std::size_t>(write(begin) - begin);
        return *this;
    }

    // Where the next n bytes go.
    char* room(std::size_t n) {
        if (capacity_ - size_ < n) grow(n);
        return data_ + size_;
    }

    // Geometric growth on the heap, so that a long text is still appended in
    // linear time.
    void grow(std::size_t n) {
        const std::size_t capacity = std::max(2 * capacity_, size_ + n);
        auto bigger = std::make_unique_for_overwrite<char[]>(capacity);
        std::memcpy(bigger.get(), data_, size_);
        heap_ = std::move(bigger);
        data_ = heap_.get();
        capacity_ = capacity;
    }

    char inline_[kInlineBytes];
    std::unique_ptr<char[]> heap_;
    char* data_ = inline_;
    std::size_t capacity_ = kInlineBytes;
    std::size_t size_ = 0;
};

}  // namespace vx
