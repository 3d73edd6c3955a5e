// J2534 status names, detail texts and hint sentences.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/core_state.h"

namespace vx::j2534 {

// A J2534 status as the core shows it: signed 32-bit. The core's own
// negative codes (-1, -100..-102, -200, -999) share this type.
using Status = std::int32_t;

// A PassThru function's long return value as a 32-bit status (on LP64 Linux
// long is wider; only the low 32 bits are the J2534 code).
constexpr Status to_status(long rc) {
    return static_cast<Status>(static_cast<std::uint32_t>(static_cast<unsigned long>(rc)));
}

// The J2534-1 04.04 name, "ERR_UNKNOWN" for anything else. Never allocates.
const char* status_name(Status status);

// Name plus the library's own last-error text when it says something; else
// "NAME (rc=N)". Calls PassThruGetLastError when bound.
std::string status_detail_text(const EntryPoints& entry, Status status);

// "OP returned NAME (rc=N). " followed by the hint for the status.
std::string status_hint_sentence(std::string_view operation, Status status);

}  // namespace vx::j2534
