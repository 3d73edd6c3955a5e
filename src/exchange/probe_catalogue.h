// The fixed, read-only frames the probes and reads send, and the attempt
// lists built from them.
//
// No checksum, length or header byte is computed for any of these frames:
// each goes to write_frame exactly as listed. The "-no-checksum" twins differ
// only in TxFlags ISO9141_NO_CHECKSUM, which asks the device library not to
// append the ISO 9141-2 checksum itself.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/text_utils.h"
#include "exchange/frame_exchange.h"
#include "j2534/passthru.h"

namespace vx {

// The write time-out of a probe frame: the activity rows, the KWP71
// keepalive, and an attempt for which none (0) is given (the host's contract;
// a 10,400-baud ISO 9141-2 line sends a short frame in a few ms).
inline constexpr std::uint32_t kDefaultProbeTimeoutMs = 1000;

// How long each probe reads replies after its frames (the host's contract).
// The activity probe after each row: a silent row costs one short read.
inline constexpr ReadLimits kActivityRowReplies{.max_messages = 4, .timeout_ms = 100};
// The traffic probe listens until 200 ms pass without a message, or for eight.
inline constexpr ReadLimits kTrafficListening{.max_messages = 8, .timeout_ms = 200};
// The backend-forward probe after each attempt.
inline constexpr ReadLimits kAttemptReplies{.max_messages = 8, .timeout_ms = 250};

namespace probe_bytes {
// ISO 9141-2 OBD request header 68 6A F1, then mode 01 PID 00 (supported
// parameters).
inline constexpr std::array<std::uint8_t, 5> kObdMode01Header{0x68, 0x6A, 0xF1, 0x01, 0x00};
// ISO 9141-2 OBD request header, then mode 03 (stored trouble codes).
inline constexpr std::array<std::uint8_t, 4> kObdMode03Header{0x68, 0x6A, 0xF1, 0x03};
// Tester-present request.
inline constexpr std::array<std::uint8_t, 2> kTesterPresent{0x3E, 0x00};
// A single raw byte.
inline constexpr std::array<std::uint8_t, 1> kRaw55{0x55};
// Empty KWP71 acknowledge block: length 03, counter 01, command 09, end 03.
inline constexpr std::array<std::uint8_t, 4> kKwp71EmptyAck{0x03, 0x01, 0x09, 0x03};
}  // namespace probe_bytes

// One catalogue entry: name, bytes and TxFlags.
struct CatalogueFrame {
    std::string_view name;
    std::span<const std::uint8_t> bytes;
    std::uint32_t tx_flags;
};

inline constexpr std::uint32_t kNoChecksum = static_cast<std::uint32_t>(j2534::kFlagIso9141NoChecksum);

// Read attempt list entries (after the caller's "requested-frame").
inline constexpr CatalogueFrame kReadObdMode01{"obd-mode01-header", probe_bytes::kObdMode01Header, 0};
inline constexpr CatalogueFrame kReadObdMode01NoChecksum{"obd-mode01-header-no-checksum",
                                                         probe_bytes::kObdMode01Header, kNoChecksum};
inline constexpr CatalogueFrame kReadObdMode03{"obd-mode03-header", probe_bytes::kObdMode03Header, 0};
inline constexpr CatalogueFrame kReadTesterPresent{"kwp-tester-present", probe_bytes::kTesterPresent, 0};
inline constexpr CatalogueFrame kRaw55NoChecksum{"raw-55-no-checksum", probe_bytes::kRaw55, kNoChecksum};

// Function-click attempt list entries.
inline constexpr CatalogueFrame kClickTesterPresent{"function-click-tester-present",
                                                    probe_bytes::kTesterPresent, 0};
inline constexpr CatalogueFrame kClickObdMode01{"function-click-obd-mode01", probe_bytes::kObdMode01Header, 0};
inline constexpr CatalogueFrame kClickObdMode01NoChecksum{"function-click-obd-mode01-no-checksum",
                                                          probe_bytes::kObdMode01Header, kNoChecksum};
inline constexpr CatalogueFrame kClickRaw55NoChecksum{"function-click-raw-55-no-checksum", probe_bytes::kRaw55,
                                                      kNoChecksum};

// The K-line activity probe's rows, in the order they are sent.
inline constexpr std::array<CatalogueFrame, 4> kKLineActivityFrames{{
    {"raw-55-default", probe_bytes::kRaw55, 0},
    kRaw55NoChecksum,
    {"iso9141-obd-header-default", probe_bytes::kObdMode01Header, 0},
    {"iso9141-obd-header-no-checksum", probe_bytes::kObdMode01Header, kNoChecksum},
}};

// The protocol traffic probe's KWP71 keepalive.
inline constexpr CatalogueFrame kKwp71Keepalive{"KWP71 empty/ACK keepalive", probe_bytes::kKwp71EmptyAck, 0};

// The frames the fault and live-data reads request, and their write time-outs
// (the host's contract).
inline constexpr std::span<const std::uint8_t> kFaultReadFrame{probe_bytes::kObdMode03Header};
inline constexpr std::uint32_t kFaultReadTimeoutMs = 1500;
inline constexpr std::span<const std::uint8_t> kLiveDataReadFrame{probe_bytes::kObdMode01Header};
inline constexpr std::uint32_t kLiveDataReadTimeoutMs = 1000;

// One frame to try in a probe.
struct ProbeAttempt {
    std::string name;  // the catalogue name; "tx" when none was given
    Bytes frame;       // never empty
    std::uint32_t tx_flags = 0;
    std::uint32_t timeout_ms = kDefaultProbeTimeoutMs;  // never 0
};

// Ordered in transmission order. No two records share both frame bytes and
// tx_flags.
using ProbeAttemptList = std::vector<ProbeAttempt>;

// Appends at most one record: nothing for an empty frame, nothing when a
// record with the same bytes and tx_flags is already there (the first keeps
// its name and time-out). An empty name becomes "tx"; a time-out of 0 or
// below becomes 1000 ms. The bytes are copied.
void add_probe_attempt(ProbeAttemptList& list, std::string_view name, std::span<const std::uint8_t> frame,
                       std::uint32_t tx_flags, std::int32_t timeout_ms);

// tester-present, OBD mode 01, OBD mode 01 without checksum, raw 55 without
// checksum; always four records.
ProbeAttemptList build_function_click_attempts(std::int32_t timeout_ms);

// "requested-frame" (when one with at least one byte is given, TxFlags 0),
// then the five read catalogue frames; the requested frame displaces its
// catalogue twin by the duplicate rule.
ProbeAttemptList build_read_attempts(std::span<const std::uint8_t> requested, std::int32_t timeout_ms);

}  // namespace vx
