// Reads fields out of the JSON-like request texts of the command exports.
//
// This is deliberately not a JSON parser: hosts send loosely formed texts, and
// each field is found where its quoted key first occurs anywhere in the text,
// its value read after the next colon. A null request behaves like an empty
// one. The keys an export reads are all found in one pass over the text, and
// that pass goes only as far as the keys asked for so far: an answer that
// needs the first few members does not read the rest of the request.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace vx {

// The keys one request is read for, with what tells which quotes of the
// request are worth trying as the opening quote of one of them: a key
// without a quote of its own can only be the text between one quote and the
// next, so by length the keys of that length (bit i for key i) and the keys'
// first bytes (a byte by its low six bits) rule out most quoted values. A
// key with a quote, or of 64 bytes or more, makes every quote worth trying.
// Worked out at compile time for an export's constexpr set of keys.
struct RequestKeys {
    // The most keys one request is read for (bits of a std::uint16_t).
    static constexpr std::size_t kMaxKeys = 12;

    // Only the first kMaxKeys keys are read for; the keys must outlive this.
    constexpr RequestKeys(std::span<const std::string_view> all)  // NOLINT: an export's keys convert
        : keys(all.first(std::min(all.size(), kMaxKeys))) {
        for (std::size_t i = 0; i < keys.size(); ++i) {
            const std::string_view key = keys[i];
            if (key.size() >= of_length.size() || key.find('"') != std::string_view::npos) {
                every_quote = true;
                return;
            }
            of_length[key.size()] = static_cast<std::uint16_t>(of_length[key.size()] | (1u << i));
            if (!key.empty()) first_bytes |= std::uint64_t{1} << (static_cast<unsigned char>(key.front()) & 63u);
        }
    }

    std::span<const std::string_view> keys;
    bool every_quote = false;
    std::array<std::uint16_t, 64> of_length{};
    std::uint64_t first_bytes = 0;
};

class RequestFields {
public:
    // Indexes the first occurrence of each "key" of keys in request, in one
    // pass that advances only when a key asked for is not found yet. The
    // request text and the keys must outlive this.
    RequestFields(const char* request, const RequestKeys& keys);
    RequestFields(const char* request, std::span<const std::string_view> keys)
        : RequestFields(request, RequestKeys(keys)) {}

    // The value of "key" as text; empty when absent, without colon or empty.
    // A key that was not named at construction is searched for on its own.
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
    // Moves the pass on as far as a named key needs.
    std::size_t position_of(std::string_view key) const;

    std::string_view request_;
    // The keys; of_length keeps only the keys the pass has not met yet.
    mutable RequestKeys keys_;
    // Where each key was found; kNotFound while the pass has not met it.
    mutable std::array<std::size_t, RequestKeys::kMaxKeys> positions_{};
    // The quote the pass tries next: every earlier one has been tried as the
    // opening quote of each key. The text's size once the pass is done.
    mutable std::size_t next_quote_;
};

// ASCII A-Z to a-z; every other byte unchanged. Changes the text it is
// given, so a temporary is lowercased without a copy.
std::string ascii_lowercase(std::string text);

}  // namespace vx
