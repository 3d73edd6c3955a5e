#include "core/request_reader.h"

#include <algorithm>
#include <bit>
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

// Eight bytes at a time, in a register: a little-endian machine keeps the
// first byte of a word in its lowest bits.
constexpr bool kWordAtATime = std::endian::native == std::endian::little;

std::uint64_t load_word(const char* p) {
    std::uint64_t word = 0;
    std::memcpy(&word, p, sizeof word);
    return word;
}

// The high bit of each byte of word that equals c.
std::uint64_t byte_bits(std::uint64_t word, char c) {
    constexpr std::uint64_t kLowBits = 0x7F7F7F7F7F7F7F7Fu;
    const std::uint64_t x = word ^ (0x0101010101010101u * static_cast<unsigned char>(c));
    return ~(((x & kLowBits) + kLowBits) | x | kLowBits);
}

// Whether the n bytes at a and b are the same, a word at a time.
bool same_bytes(const char* a, const char* b, std::size_t n) {
    if (kWordAtATime && n >= sizeof(std::uint64_t)) {
        for (std::size_t i = 0; i + sizeof(std::uint64_t) < n; i += sizeof(std::uint64_t)) {
            if (load_word(a + i) != load_word(b + i)) return false;
        }
        const std::size_t last = n - sizeof(std::uint64_t);  // overlaps the word before
        return load_word(a + last) == load_word(b + last);
    }
    for (std::size_t i = 0; i < n; ++i) {
        if (a[i] != b[i]) return false;
    }
    return true;
}

// Walks the quotes of a text in order. The bytes are looked at eight at a
// time in a register, each quote of a word becoming one bit, so that the next
// quote costs a bit scan rather than a call; after a few words without a
// quote, memchr takes over for the rest of a long value.
class QuoteCursor {
public:
    QuoteCursor(std::string_view text, std::size_t from) : data_(text.data()), size_(text.size()), next_(from) {}

    // The next quote, the text's size when none is left.
    std::size_t next() {
        while (bits_ == 0) {
            if (!load_next()) return size_;
        }
        const std::size_t at = word_ + static_cast<std::size_t>(std::countr_zero(bits_) / 8);
        bits_ &= bits_ - 1;
        return at;
    }

private:
    static constexpr std::size_t kWordsBeforeMemchr = 4;


    bool load_next() {
        if (next_ >= size_) return false;
        if (++words_without_quote_ > kWordsBeforeMemchr) {
            const void* const found = std::memchr(data_ + next_, '"', size_ - next_);
            if (found == nullptr) {
                next_ = size_;
                return false;
            }
            next_ = static_cast<std::size_t>(static_cast<const char*>(found) - data_);
        }
        word_ = next_;
        if (kWordAtATime && size_ - next_ >= sizeof(std::uint64_t)) {
            bits_ = byte_bits(load_word(data_ + next_), '"');
            next_ += sizeof(std::uint64_t);
        } else {
            bits_ = data_[next_] == '"' ? 0x80u : 0u;  // one byte, as the first of a word
            next_ += 1;
        }
        if (bits_ != 0) words_without_quote_ = 0;
        return true;
    }

    const char* data_;
    std::size_t size_;
    std::size_t next_;      // where the next word starts
    std::size_t word_ = 0;  // where the word of bits_ starts
    std::uint64_t bits_ = 0;
    std::size_t words_without_quote_ = 0;
};

std::size_t first_quote(std::string_view text) { return QuoteCursor(text, 0).next(); }

// The first quote or backslash at or after p, or end.
const char* quote_or_backslash(const char* p, const char* const end) {
    if constexpr (kWordAtATime) {
        for (; end - p >= static_cast<std::ptrdiff_t>(sizeof(std::uint64_t)); p += sizeof(std::uint64_t)) {
            const std::uint64_t word = load_word(p);
            const std::uint64_t bits = byte_bits(word, '"') | byte_bits(word, '\\');
            if (bits != 0) return p + std::countr_zero(bits) / 8;
        }
    }
    while (p != end && *p != '"' && *p != '\\') ++p;
    return p;
}

// Tries the quote at text[quote] as the opening quote of each "key" not
// found yet, looking at the closing quote before comparing the key.
void try_keys_at(std::string_view text, std::size_t quote, std::span<const std::string_view> keys,
                 std::span<std::size_t> positions) {
    const std::size_t room = text.size() - quote;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const std::string_view key = keys[i];
        if (positions[i] != kNotFound || key.size() + 2 > room || text[quote + key.size() + 1] != '"') continue;
        if (key.empty() || std::memcmp(text.data() + quote + 1, key.data(), key.size()) == 0) positions[i] = quote;
    }
}

// Tries the text between the quote at text[quote] and the next one, length
// (below 64) bytes long, as each key of that length the pass has not met yet.
void try_keys_of_length(std::string_view text, std::size_t quote, std::size_t length, RequestKeys& keys,
                        std::span<std::size_t> positions) {
    std::uint16_t& left = keys.of_length[length];
    const char* const quoted = text.data() + quote + 1;
    for (unsigned bits = left; bits != 0; bits &= bits - 1) {
        const auto i = static_cast<std::size_t>(std::countr_zero(bits));
        if (same_bytes(quoted, keys.keys[i].data(), length)) {
            positions[i] = quote;
            left = static_cast<std::uint16_t>(left & ~(1u << i));
        }
    }
}

// Tries every quote from the one at `quote` on until key `wanted` is found.
// Returns the quote to try next, the text's size when none is left.
std::size_t scan_quotes(std::string_view text, std::size_t quote, RequestKeys& keys,
                        std::span<std::size_t> positions, std::size_t wanted) {
    if (positions[wanted] != kNotFound) return quote;
    if (quote >= text.size()) return text.size();
    // A key needs a closing quote: the last quote opens none.
    QuoteCursor cursor(text, quote + 1);
    if (keys.every_quote) {
        while (positions[wanted] == kNotFound) {
            const std::size_t next = cursor.next();
            if (next == text.size()) return next;
            try_keys_at(text, quote, keys.keys, positions);
            quote = next;
        }
        return quote;
    }
    const char* const data = text.data();
    for (;;) {
        const std::size_t next = cursor.next();
        if (next == text.size()) return next;
        // Only a key left to find of this length, and with this first byte
        // (a byte by its low six bits), can match.
        const std::size_t length = next - quote - 1;
        if (length < keys.of_length.size() && keys.of_length[length] != 0 &&
            (length == 0 || ((keys.first_bytes >> (static_cast<unsigned char>(data[quote + 1]) & 63u)) & 1u) != 0)) {
            try_keys_of_length(text, quote, length, keys, positions);
            if (positions[wanted] != kNotFound) return next;
        }
        quote = next;
    }
}

// A quoted value without escapes is the request's own bytes up to the
// closing quote (or the end); one with escapes is decoded into storage.
std::string_view read_quoted(std::string_view rest, std::string& storage) {
    const char* p = rest.data();
    const char* const end = p + rest.size();
    p = quote_or_backslash(p, end);
    if (p == end || *p == '"') return {rest.data(), static_cast<std::size_t>(p - rest.data())};
    storage.assign(rest.data(), p);
    while (p != end) {
        // Here p is at a backslash.
        if (++p == end) break;  // a lone trailing backslash adds nothing
        switch (*p) {
            case 'n': storage.push_back('\n'); break;
            case 'r': storage.push_back('\r'); break;
            case 't': storage.push_back('\t'); break;
            default: storage.push_back(*p); break;  // ", \, / and anything else: itself
        }
        // The plain run up to the next quote or backslash, appended in one go.
        const char* const run = ++p;
        p = quote_or_backslash(p, end);
        storage.append(run, static_cast<std::size_t>(p - run));
        if (p == end || *p == '"') break;
    }
    return storage;
}

std::string_view read_bare(std::string_view rest) {
    std::size_t size = 0;
    while (size < rest.size() && rest[size] != ',' && rest[size] != '}') ++size;
    // Only blanks and TABs are trimmed: a trailing CR or LF stays in the value.
    while (size > 0 && (rest[size - 1] == ' ' || rest[size - 1] == '\t')) --size;
    return rest.substr(0, size);
}

// The value after the colon that follows the key found at hit.
std::string_view value_at(std::string_view text, std::size_t hit, std::size_t key_size, std::string& storage) {
    if (hit == kNotFound) return {};
    const std::size_t colon = text.find(':', hit + key_size + 2);
    if (colon == kNotFound || colon + 1 >= text.size()) return {};
    std::size_t pos = colon + 1;
    while (pos < text.size() && is_request_space(text[pos])) ++pos;
    if (pos == text.size()) return {};
    if (text[pos] == '"') return read_quoted(text.substr(pos + 1), storage);
    return read_bare(text.substr(pos));
}

bool equals_lowercased(std::string_view text, std::string_view lower) {
    if (text.size() != lower.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != lower[i]) return false;
    }
    return true;
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

RequestFields::RequestFields(const char* request, const RequestKeys& keys)
    : request_(request != nullptr ? std::string_view(request) : std::string_view()),
      keys_(keys),
      next_quote_(first_quote(request_)) {
    positions_.fill(kNotFound);
}

std::size_t RequestFields::position_of(std::string_view key) const {
    for (std::size_t i = 0; i < keys_.keys.size(); ++i) {
        const std::string_view named = keys_.keys[i];
        // The exports ask with the very literal they named (the linker keeps
        // one copy of equal literals), so the address usually decides.
        if (named.size() == key.size() &&
            (named.data() == key.data() || same_bytes(named.data(), key.data(), key.size()))) {
            next_quote_ = scan_quotes(request_, next_quote_, keys_, positions_, i);
            return positions_[i];
        }
    }
    std::size_t position = kNotFound;
    const std::string_view one_key[] = {key};
    RequestKeys alone(one_key);
    scan_quotes(request_, first_quote(request_), alone, std::span(&position, 1), 0);
    return position;
}

std::string_view RequestFields::text_view(std::string_view key, std::string& storage) const {
    return value_at(request_, position_of(key), key.size(), storage);
}

std::string RequestFields::text(std::string_view key) const {
    std::string storage;
    const std::string_view value = text_view(key, storage);
    if (value.data() != storage.data()) storage.assign(value);
    return storage;
}

int RequestFields::integer(std::string_view key, int fallback) const {
    std::string storage;
    const std::string_view value = text_view(key, storage);
    return value.empty() ? fallback : parse_int_like_strtol(value);
}

bool RequestFields::flag(std::string_view key) const {
    std::string storage;
    const std::string_view value = text_view(key, storage);
    return equals_lowercased(value, "true") || equals_lowercased(value, "1") || equals_lowercased(value, "yes");
}

std::string ascii_lowercase(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

}  // namespace vx
