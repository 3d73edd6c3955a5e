// J2534 status names, detail texts and hint sentences.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "j2534/device_state.h"
#include "j2534/passthru.h"

namespace vx::j2534 {

// The core's own codes, shown where a J2534 status stands when no PassThru
// call could be made. They are not J2534 statuses: each is named
// "ERR_UNKNOWN".
enum CoreCode : Status {
    // No channel is open, or the entry point the step needs is not bound.
    kCodeUnavailable = -1,
    // VX_OpenJ2534Dll was given no path.
    kCodeNoLibraryPath = -100,
    // The library could not be loaded.
    kCodeLoadFailed = -101,
    // The library lacks one of the seven required entry points.
    kCodeEntryPointMissing = -102,
    // A frame was refused before the device was called (no channel or
    // writer, no bytes, or more than the message data area holds).
    kCodeFrameRefused = -200,
    // No probe frame was accepted for transmission.
    kCodeNothingAccepted = -999,
};

// The J2534-1 04.04 name, "ERR_UNKNOWN" for anything else. Never allocates.
const char* status_name(Status status);

// Name plus the library's own last-error text when it says something; else
// "NAME (rc=N)". Calls PassThruGetLastError when bound.
std::string status_detail_text(const EntryPoints& entry, Status status);

// "OP returned NAME (rc=N). " followed by the hint for the status.
std::string status_hint_sentence(std::string_view operation, Status status);

}  // namespace vx::j2534
