// Fuzz target for the request reader: arbitrary request texts, the keys the
// command exports read, and one key taken from the input itself.
//
// Input layout: byte 0 picks the key. Below the number of known keys it is an
// index into them; otherwise its low four bits give the length of a key made
// of the bytes that follow. The rest is the request text, up to its first NUL
// as a host's C string would end there.
#include "core/request_reader.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace {

constexpr std::string_view kKeys[] = {
    "type",     "name",       "mode",    "startHex", "stopHex",   "clearHex", "commandType",
    "payloadHex", "trailer", "sequence", "maxRunMs", "timeoutMs", "backendForwardFallbackProbe", "",
};

// The C library's decimal conversion, clamped to int: what an integer field
// must give for a non-empty text.
int reference_int(const std::string& text) {
    errno = 0;
    const long value = std::strtol(text.c_str(), nullptr, 10);
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

void check_key(const std::string& request, std::string_view key) {
    const std::string text = vx::request_text(request.c_str(), key);
    if (text.size() > request.size()) std::abort();

    // A prefix without a double quote cannot hold the start of a match, and
    // the colon is searched after the match: the field must not change.
    const std::string prefixed = "{ignored: 1, }\r\n" + request;
    if (vx::request_text(prefixed.c_str(), key) != text) std::abort();

    constexpr int kFallback = -424242;
    const int number = vx::request_int(request.c_str(), key, kFallback);
    if (text.empty() ? number != kFallback : number != reference_int(text)) std::abort();

    const std::string lower = vx::ascii_lowercase(text);
    if (lower.size() != text.size()) std::abort();
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const char expected = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        if (lower[i] != expected) std::abort();
    }
    const bool flag = vx::request_flag(request.c_str(), key);
    if (flag != (lower == "true" || lower == "1" || lower == "yes")) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    constexpr std::size_t kKnownKeys = sizeof(kKeys) / sizeof(kKeys[0]);
    const bool known = data[0] < kKnownKeys;
    const std::size_t key_size = known ? 0 : std::min<std::size_t>(data[0] % 16, size - 1);
    const std::string key = known ? std::string(kKeys[data[0]])
                                  : std::string(reinterpret_cast<const char*>(data + 1), key_size);
    const char* rest = reinterpret_cast<const char*>(data + 1 + key_size);
    const std::size_t rest_size = size - 1 - key_size;
    const void* nul = std::memchr(rest, 0, rest_size);
    const std::size_t text_size =
        nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - rest) : rest_size;
    const std::string request(rest, text_size);

    check_key(request, key);
    return 0;
}
