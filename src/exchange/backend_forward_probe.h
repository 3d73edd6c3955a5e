// The backend-forward probe: when the host asks for something that cannot go
// out as a verified command (or for a fault or live-data read), the core still
// exercises the physical K-line path by sending harmless read-only probe
// frames, one after another, until the device accepts one for transmission.
//
// All three functions return a complete JSON object text whose last character
// is '}', so callers may insert members of their own (insert_members).
// They must run inside the export guard, like everything that touches the
// core state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "exchange/probe_catalogue.h"

namespace vx {

// Runs attempts in order until one is accepted (written count not 0) and
// reports what each sent and received. read_type absent reports "probe",
// context absent reports "". Each attempt's write time-out is its own
// timeoutMs. Answers in simulation mode or without an open
// channel/writer without calling the device.
std::string RunBackendForwardProbe(std::optional<std::string_view> read_type,
                                   std::optional<std::string_view> context,
                                   const ProbeAttemptList& attempts);

// For the command exports: the function-click attempt list with timeout_ms as
// each write time-out, read type "function-fallback", and context
// kind + ":" + name. An absent kind reports "function"; an empty kind stays
// empty (context ":name"). An absent name counts as "".
std::string RunFunctionFallbackProbe(std::optional<std::string_view> kind,
                                     std::optional<std::string_view> name,
                                     std::uint32_t timeout_ms);

// For the fault and live-data reads: the read attempt list (the requested
// frame first, when it has at least one byte, then the catalogue's read
// frames without duplicates), read type kind, context "read/probe".
// frame may be null or frame_length 0 for no requested frame.
std::string RunReadProbe(std::string_view kind, const std::uint8_t* frame, std::size_t frame_length,
                         std::uint32_t timeout_ms);

}  // namespace vx
