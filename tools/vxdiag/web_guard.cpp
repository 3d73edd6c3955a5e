#include "web_guard.h"

#include <array>
#include <random>
#include <utility>

namespace vxdiag {

namespace {

// Compares without stopping at the first difference, so the time taken does
// not tell how much of a guessed token was right.
bool same_secret(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    unsigned char difference = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        difference = static_cast<unsigned char>(difference | (a[i] ^ b[i]));
    }
    return difference == 0;
}

bool one_of_our_names(std::string_view authority, std::uint16_t port) {
    const std::string suffix = ":" + std::to_string(port);
    for (const char* name : {"127.0.0.1", "localhost"}) {
        if (authority == std::string(name) + suffix) return true;
    }
    return false;
}

}  // namespace

WebGuard::WebGuard(std::string token, std::uint16_t port) : token_(std::move(token)), port_(port) {}

Refusal WebGuard::check(const RequestFacts& request) const {
    if (!one_of_our_names(request.host, port_)) return Refusal::Host;
    // A browser sends Origin on every POST and on cross-site requests; a
    // request without one is a navigation or a tool, and still needs the token.
    if (!request.origin.empty()) {
        constexpr std::string_view kScheme = "http://";
        if (!request.origin.starts_with(kScheme) || !one_of_our_names(request.origin.substr(kScheme.size()), port_)) {
            return Refusal::Origin;
        }
    }
    if (request.fetch_site == "cross-site" || request.fetch_site == "same-site") return Refusal::Origin;
    if (token_.empty() || !same_secret(request.token, token_)) return Refusal::Token;
    return Refusal::None;
}

const char* refusal_text(Refusal refusal) {
    switch (refusal) {
        case Refusal::None: return "";
        case Refusal::Host: return "refused: the Host header does not name this server on 127.0.0.1";
        case Refusal::Origin: return "refused: the request comes from another web site";
        case Refusal::Token: return "refused: open the address vxdiag serve printed, with its token";
    }
    return "refused";
}

std::string random_token() {
    std::random_device source;
    std::string token;
    constexpr std::array<char, 16> kDigits{'0', '1', '2', '3', '4', '5', '6', '7',
                                           '8', '9', 'a', 'b', 'c', 'd', 'e', 'f'};
    while (token.size() < 32) {
        unsigned value = source();
        for (int nibble = 0; nibble < 8 && token.size() < 32; ++nibble, value >>= 4) token += kDigits[value & 0xFU];
    }
    return token;
}

std::string query_value(std::string_view target, std::string_view name) {
    const std::size_t question = target.find('?');
    if (question == std::string_view::npos) return {};
    std::string_view query = target.substr(question + 1);
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        const std::size_t equals = pair.find('=');
        if (equals != std::string_view::npos && pair.substr(0, equals) == name) return std::string(pair.substr(equals + 1));
        if (amp == std::string_view::npos) break;
        query.remove_prefix(amp + 1);
    }
    return {};
}

}  // namespace vxdiag
