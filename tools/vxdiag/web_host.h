// What `vxdiag serve` does with the page's requests, apart from HTTP: one
// page at a time owns the device (a second page learns that it is in use),
// its steps run through the same Session as the command line's, one export
// at a time, and each answer goes back as one JSON text with the verdict and
// the facts vxdiag's lines show. A started export runs to its end in the
// server whatever happens to the request that started it (a tab closed, a
// reload): the function's stop frame is always written.
#pragma once

#include "core_library.h"
#include "session.h"

#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace vxdiag {

struct WebAnswer {
    int status = 200;  // HTTP status
    std::string body;  // a JSON text
};

class WebHost {
public:
    using Clock = std::chrono::steady_clock;

    // `library` is the PassThru library "open" takes when the page names no
    // registration; the owner's session ends after `idle` without a request.
    WebHost(const CoreLibrary& core, std::string library, Clock::duration idle);

    // A page asks for the device: a session id, or 409 while another owns it.
    WebAnswer claim(Clock::time_point now);
    // Runs one step of the owner: {"step":"init:0x33"}, or {"step":"open",
    // "device":"KEY"} for a registered library instead of the default one.
    WebAnswer step(std::string_view session, std::string_view body, Clock::time_point now);
    // The page is gone: the device is closed and the next page may claim it.
    WebAnswer release(std::string_view session);

    // Ends the owner's session when it sent nothing for the idle time.
    void end_idle_session(Clock::time_point now);
    // Refuses further steps, waits for the running export and closes the
    // device when it is open (printing the step's line).
    void shut_down();

private:
    std::optional<WebAnswer> claim_refusal(Clock::time_point now);
    std::optional<WebAnswer> claim_refusal_locked(Clock::time_point now) const;
    bool owned_by(std::string_view session, Clock::time_point now);
    void end_session_locked();
    WebAnswer run(const Step& step);

    Session session_;
    std::string default_library_;
    Clock::duration idle_;
    std::mutex device_mutex_;  // one export at a time; held while it runs
    std::mutex state_mutex_;   // the owner and the time of its last request
    std::string owner_;
    Clock::time_point last_seen_{};
    bool stopping_ = false;
};

}  // namespace vxdiag
