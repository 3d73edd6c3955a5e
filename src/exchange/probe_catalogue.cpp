#include "exchange/probe_catalogue.h"

#include <algorithm>

namespace vx {

void AddProbeAttempt(ProbeAttemptList& list, const char* name, const std::uint8_t* data, std::size_t length,
                     std::uint32_t txFlags, std::int32_t timeoutMs) {
    if (data == nullptr || length == 0) {
        return;
    }
    const std::span<const std::uint8_t> frame(data, length);
    const bool duplicate = std::any_of(list.begin(), list.end(), [&](const ProbeAttempt& existing) {
        return existing.txFlags == txFlags && std::ranges::equal(existing.frame, frame);
    });
    if (duplicate) {
        return;
    }
    ProbeAttempt attempt;
    attempt.name = name != nullptr ? name : "tx";
    attempt.frame.assign(frame.begin(), frame.end());
    attempt.txFlags = txFlags;
    // A time-out of 0 (or a nonsensical negative one) would make the device
    // library return at once or wait forever, depending on the maker: use the
    // default instead.
    attempt.timeoutMs = timeoutMs > 0 ? static_cast<std::uint32_t>(timeoutMs) : kDefaultProbeTimeoutMs;
    list.push_back(std::move(attempt));
}

void AddProbeAttempt(ProbeAttemptList& list, const CatalogueFrame& frame, std::int32_t timeoutMs) {
    const std::string name(frame.name);
    AddProbeAttempt(list, name.c_str(), frame.bytes.data(), frame.bytes.size(), frame.txFlags, timeoutMs);
}

ProbeAttemptList BuildFunctionClickAttempts(std::int32_t timeoutMs) {
    ProbeAttemptList list;
    for (const CatalogueFrame& frame :
         {kClickTesterPresent, kClickObdMode01, kClickObdMode01NoChecksum, kClickRaw55NoChecksum}) {
        AddProbeAttempt(list, frame, timeoutMs);
    }
    return list;
}

ProbeAttemptList BuildReadAttempts(const std::uint8_t* requested, std::size_t length, std::int32_t timeoutMs) {
    ProbeAttemptList list;
    AddProbeAttempt(list, "requested-frame", requested, length, 0, timeoutMs);
    for (const CatalogueFrame& frame :
         {kReadObdMode01, kReadObdMode01NoChecksum, kReadObdMode03, kReadTesterPresent, kRaw55NoChecksum}) {
        AddProbeAttempt(list, frame, timeoutMs);
    }
    return list;
}

}  // namespace vx
