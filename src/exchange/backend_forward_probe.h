// The backend-forward probe: when the host asks for something that cannot go
// out as a verified command (or for a fault or live-data read), the core still
// exercises the physical K-line path by sending harmless read-only probe
// frames, one after another, until the device accepts one for transmission.
//
// All three functions return a complete JSON object text whose last character
// is '}', so callers may insert members of their own (insert_members).
// They must run inside the export guard, like everything that touches the
// device state.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "exchange/probe_catalogue.h"

namespace vx {

// Runs attempts in order until one is accepted (written count not 0) and
// reports what each sent and received, under the read type and context the
// caller names. Each attempt's write time-out is its own timeout_ms. Without
// an open channel/writer it answers without calling the device. Its callers
// answer in simulation mode themselves, so it runs only with the switch off.
std::string run_backend_forward_probe(std::string_view read_type, std::string_view context,
                                      const ProbeAttemptList& attempts);

// For the command exports: the function-click attempt list with timeout_ms as
// each write time-out, read type "function-fallback", and context
// kind + ":" + name (an empty kind stays empty: ":name").
std::string run_function_fallback_probe(std::string_view kind, std::string_view name, std::uint32_t timeout_ms);

// For the fault and live-data reads: the read attempt list (the requested
// frame first, then the catalogue's read frames without duplicates), read
// type kind, context "read/probe".
std::string run_read_probe(std::string_view kind, std::span<const std::uint8_t> frame, std::uint32_t timeout_ms);

}  // namespace vx
