#include "exchange/probe_catalogue.h"

#include <algorithm>
#include <initializer_list>

namespace vx {

namespace {

void add_catalogue_frames(ProbeAttemptList& list, std::initializer_list<CatalogueFrame> frames,
                          std::int32_t timeout_ms) {
    for (const CatalogueFrame& frame : frames) {
        add_probe_attempt(list, frame.name, frame.bytes, frame.tx_flags, timeout_ms);
    }
}

}  // namespace

void add_probe_attempt(ProbeAttemptList& list, std::string_view name, std::span<const std::uint8_t> frame,
                       std::uint32_t tx_flags, std::int32_t timeout_ms) {
    if (frame.empty()) return;
    const bool duplicate = std::any_of(list.begin(), list.end(), [&](const ProbeAttempt& existing) {
        return existing.tx_flags == tx_flags && std::ranges::equal(existing.frame, frame);
    });
    if (duplicate) return;
    ProbeAttempt attempt;
    attempt.name = name.empty() ? std::string_view("tx") : name;
    attempt.frame.assign(frame.begin(), frame.end());
    attempt.tx_flags = tx_flags;
    // A time-out of 0 (or a nonsensical negative one) would make the device
    // library return at once or wait forever, depending on the maker: use the
    // default instead.
    attempt.timeout_ms = timeout_ms > 0 ? static_cast<std::uint32_t>(timeout_ms) : kDefaultProbeTimeoutMs;
    list.push_back(std::move(attempt));
}

ProbeAttemptList build_function_click_attempts(std::int32_t timeout_ms) {
    ProbeAttemptList list;
    add_catalogue_frames(list, {kClickTesterPresent, kClickObdMode01, kClickObdMode01NoChecksum, kClickRaw55NoChecksum},
                         timeout_ms);
    return list;
}

ProbeAttemptList build_read_attempts(std::span<const std::uint8_t> requested, std::int32_t timeout_ms) {
    ProbeAttemptList list;
    add_probe_attempt(list, "requested-frame", requested, 0, timeout_ms);
    add_catalogue_frames(list,
                         {kReadObdMode01, kReadObdMode01NoChecksum, kReadObdMode03, kReadTesterPresent, kRaw55NoChecksum},
                         timeout_ms);
    return list;
}

}  // namespace vx
