// The door of `vxdiag serve`. The page can make a car's ECU run functions, so
// a request is answered only when it comes from the page vxdiag handed out:
// it names the server by its loopback address (a rebound DNS name of another
// site does not), it comes from the page's own origin (another site open in
// the same browser does not), and it carries the random token printed at the
// start (another local program or user does not know it).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vxdiag {

// The parts of a request the guard looks at; absent headers are empty.
struct RequestFacts {
    std::string_view host;            // Host
    std::string_view origin;          // Origin
    std::string_view fetch_site;      // Sec-Fetch-Site
    std::string_view token;           // the token the request carries
};

enum class Refusal { None, Host, Origin, Token };

class WebGuard {
public:
    WebGuard(std::string token, std::uint16_t port);

    // Refusal::None when the request may be answered.
    Refusal check(const RequestFacts& request) const;

    const std::string& token() const { return token_; }
    std::uint16_t port() const { return port_; }

private:
    std::string token_;
    std::uint16_t port_;
};

// Why a request was refused, for the 403 answer and the server's note.
const char* refusal_text(Refusal refusal);

// A token of 32 hex digits from the system's random source.
std::string random_token();

// The value of `name` in the query of a request target ("/?token=ab" -> "ab"),
// empty when absent.
std::string query_value(std::string_view target, std::string_view name);

}  // namespace vxdiag
