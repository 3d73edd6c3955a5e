#include "host_console.h"

#if defined(_WIN32)
#  include <io.h>
#  include <windows.h>
#elif defined(__unix__) || defined(__APPLE__)
#  include <cerrno>
#  include <csignal>
#  include <signal.h>
#  include <unistd.h>
#else
#  error "No interrupt handling for this operating system"
#endif

#include <atomic>
#include <cstring>

namespace vx::platform {

namespace {

struct InterruptRequest {
    const char* name;
    int exit_status;  // 128 + the POSIX signal number it stands for
};

enum RequestIndex : int { kNone, kSigint, kSigterm, kSighup, kCtrlC, kCtrlBreak, kConsoleClose };

constexpr InterruptRequest kRequests[] = {
    {"", 0},          {"SIGINT", 130}, {"SIGTERM", 143},       {"SIGHUP", 129},
    {"Ctrl-C", 130}, {"Ctrl-Break", 130}, {"console close", 129},
};

// Lock-free, so the signal handler may touch it.
std::atomic<int> g_request{kNone};
std::atomic<bool> g_stderr_terminal{false};

std::atomic<const char*> g_first_note{""};
std::atomic<const char*> g_waiting_note{""};

// Keeps the first request; the note to print for this one.
const char* record(int request) {
    int none = kNone;
    return g_request.compare_exchange_strong(none, request) ? g_first_note.load() : g_waiting_note.load();
}

#if defined(_WIN32)

HANDLE g_cleanup_done = nullptr;  // manual-reset event, set once the device is closed

void write_note(const char* note) {
    const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    DWORD written = 0;
    if (g_stderr_terminal.load()) WriteFile(error, "\r\n", 2, &written, nullptr);
    WriteFile(error, note, static_cast<DWORD>(std::strlen(note)), &written, nullptr);
}

// Runs on a thread of its own that Windows starts for each event.
BOOL WINAPI on_console_event(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT: write_note(record(kCtrlC)); return TRUE;
        case CTRL_BREAK_EVENT: write_note(record(kCtrlBreak)); return TRUE;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            record(kConsoleClose);
            // Windows ends the process as soon as this returns: hold it until
            // the running export finished and the device is closed.
            if (g_cleanup_done != nullptr) WaitForSingleObject(g_cleanup_done, INFINITE);
            return TRUE;
        default: return FALSE;
    }
}

#else

void on_signal(int number) {
    const int saved_errno = errno;
    const char* note = record(number == SIGINT ? kSigint : number == SIGTERM ? kSigterm : kSighup);
    // write(2) is async-signal-safe; stdio is not.
    if (g_stderr_terminal.load() && write(STDERR_FILENO, "\n", 1) < 0) {
    }
    if (write(STDERR_FILENO, note, std::strlen(note)) < 0) {
    }
    errno = saved_errno;
}

#endif

}  // namespace

#if defined(_WIN32)

void install_interrupt_handlers(const char* first_note, const char* waiting_note) {
    g_first_note = first_note;
    g_waiting_note = waiting_note;
    g_stderr_terminal = is_terminal(stderr);
    g_cleanup_done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

void interrupt_cleanup_finished() {
    if (g_cleanup_done != nullptr) SetEvent(g_cleanup_done);
}

bool is_terminal(std::FILE* stream) { return _isatty(_fileno(stream)) != 0; }

std::string executable_path() {
    char path[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    return length == 0 || length >= MAX_PATH ? std::string() : std::string(path, length);
}

#else

void install_interrupt_handlers(const char* first_note, const char* waiting_note) {
    g_first_note = first_note;
    g_waiting_note = waiting_note;
    g_stderr_terminal = is_terminal(stderr);
    struct sigaction action {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    for (const int number : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&action.sa_mask, number);
    // A system call that the signal lands in (a read or sleep inside the core
    // or the PassThru library) resumes instead of failing with EINTR.
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // nohup leaves SIGHUP ignored so that a session outlives its terminal; so
    // it stays. (A shell script's background job has SIGINT ignored too, yet
    // a `kill -INT` sent to it later means stop, so SIGINT is always handled.)
    struct sigaction previous {};
    sigaction(SIGHUP, &action, &previous);
    if (previous.sa_handler == SIG_IGN) sigaction(SIGHUP, &previous, nullptr);
    // A closed pipe or terminal must not end the process between a start and
    // a stop frame: the write fails instead.
    std::signal(SIGPIPE, SIG_IGN);
}

void interrupt_cleanup_finished() {}

bool is_terminal(std::FILE* stream) { return isatty(fileno(stream)) != 0; }

std::string executable_path() {
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path);
    return length <= 0 || static_cast<std::size_t>(length) >= sizeof path
               ? std::string()
               : std::string(path, static_cast<std::size_t>(length));
}

#endif

int interrupt_exit_status() { return kRequests[g_request.load()].exit_status; }

const char* interrupt_name() { return kRequests[g_request.load()].name; }

}  // namespace vx::platform
