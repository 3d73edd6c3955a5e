// The little of the operating system vxdiag needs beyond the core's platform
// layer: interrupt requests (POSIX signals, the Windows console's control
// events) and terminal detection. The same calls on every OS; this pair is the
// only place in vxdiag that knows which OS it runs on.
#pragma once

#include <cstdio>

namespace vxdiag {

// From here on an interrupt request (SIGINT, SIGTERM, SIGHUP; Ctrl-C,
// Ctrl-Break, closing the console) no longer ends the process: it is recorded
// for the step loop, which lets the running export finish, runs no further
// step and closes the device. A repeated request only prints a note that
// vxdiag is waiting. A broken pipe no longer kills the process either: the
// write fails and is handled like any other failed write.
void install_interrupt_handlers();

// 0 while no interrupt was requested, else the exit status it asks for:
// 130 (SIGINT, Ctrl-C, Ctrl-Break), 143 (SIGTERM), 129 (SIGHUP, console closed).
int interrupt_exit_status();

// The request's name for messages ("SIGINT", "Ctrl-C", ...); empty while none.
const char* interrupt_name();

// Tells a waiting console-close handler that the device is closed and the
// process may end (Windows ends the process as soon as that handler returns).
void interrupt_cleanup_finished();

// True when the stream is a terminal (not a file, pipe or null device).
bool is_terminal(std::FILE* stream);

// True when PassThru libraries are registered in the Windows registry, false
// where they are registration files in ~/.passthru.
bool registrations_in_registry();

}  // namespace vxdiag
