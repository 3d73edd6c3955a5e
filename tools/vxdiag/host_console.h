// What a console host program (vxdiag) needs of the operating system beyond
// loading the core: interrupt requests (POSIX signals, the Windows console's
// control events) and terminal detection. Built into host programs only, not
// into the core library.
#pragma once

#include <cstdio>
#include <string>

namespace vx::platform {

// From here on an interrupt request (SIGINT, SIGTERM, SIGHUP; Ctrl-C,
// Ctrl-Break, closing the console) no longer ends the process: it is recorded
// for the step loop, which lets the running export finish, runs no further
// step and closes the device. A repeated request only prints a note that
// the host is waiting. The first request writes first_note to stderr, every
// later one waiting_note (both must live as long as the process). A broken
// pipe no longer kills the process either: the write fails and is handled
// like any other failed write.
void install_interrupt_handlers(const char* first_note, const char* waiting_note);

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

// The full path of the running program; empty when the OS does not say.
std::string executable_path();

}  // namespace vx::platform
