// Fuzz target for the request reader: arbitrary request texts read for every
// key the command exports read, and for one key taken from the input.
//
// Input layout: byte 0 picks the extra key. Below the number of known keys it
// is an index into them; otherwise its low four bits give the length of a key
// made of the bytes that follow. The rest is the request text, up to its
// first NUL as a host's C string would end there.
#include "core/request_reader.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

constexpr std::string_view kKeys[] = {
    "type",       "name",    "mode",     "startHex", "stopHex",   "clearHex", "commandType",
    "payloadHex", "trailer", "sequence", "maxRunMs", "timeoutMs", "backendForwardFallbackProbe", "",
};

// The field found the plain way: "key" searched at every position, and the
// value read where it first stands (from there on, the key is the first one).
std::string reference_text(const std::string& request, std::string_view key) {
    const std::size_t at = request.find("\"" + std::string(key) + "\"");
    return at == std::string::npos ? std::string() : vx::RequestFields(request.c_str() + at).text(key);
}

// The C library's decimal conversion, clamped to int: what an integer field
// must give for a non-empty text.
int reference_int(const std::string& text) {
    const long value = std::strtol(text.c_str(), nullptr, 10);
    return static_cast<int>(std::clamp<long>(value, INT_MIN, INT_MAX));
}

void check_key(const vx::RequestFields& all, const std::string& request, std::string_view key) {
    const std::string text = all.text(key);
    if (text.size() > request.size() || text != reference_text(request, key)) std::abort();

    // A prefix without a double quote cannot hold the start of a match, and
    // the colon is searched after the match: the field must not change.
    const std::string prefixed = "{ignored: 1, }\r\n" + request;
    if (vx::RequestFields(prefixed.c_str()).text(key) != text) std::abort();

    constexpr int kFallback = -424242;
    const int number = all.integer(key, kFallback);
    if (text.empty() ? number != kFallback : number != reference_int(text)) std::abort();
    const std::string lower = vx::ascii_lowercase(text);
    if (all.flag(key) != (lower == "true" || lower == "1" || lower == "yes")) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    constexpr std::size_t kKnownKeys = std::size(kKeys);
    const bool known = data[0] < kKnownKeys;
    const std::size_t key_size = known ? 0 : std::min<std::size_t>(data[0] % 16, size - 1);
    const std::string key = known ? std::string(kKeys[data[0]])
                                  : std::string(reinterpret_cast<const char*>(data + 1), key_size);
    const std::string_view rest(reinterpret_cast<const char*>(data + 1 + key_size), size - 1 - key_size);
    const std::string request(rest.substr(0, rest.find('\0')));

    const vx::RequestFields all(request.c_str());
    for (const std::string_view known_key : kKeys) check_key(all, request, known_key);
    check_key(all, request, key);
    return 0;
}
