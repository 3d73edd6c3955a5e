#include "console_output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace vxdiag {

namespace {

std::string g_error;  // empty while every write succeeded

void note_failure() {
    if (g_error.empty()) g_error = errno != 0 ? std::strerror(errno) : "write error";
}

}  // namespace

void print_line(const std::string& line) {
    errno = 0;
    if (std::fputs(line.c_str(), stdout) == EOF || std::fputc('\n', stdout) == EOF) note_failure();
}

void print_note(std::string_view message) noexcept {
    std::fputs("vxdiag: ", stderr);
    std::fwrite(message.data(), 1, message.size(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

bool stdout_ok() {
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) note_failure();
    return g_error.empty();
}

const std::string& stdout_error() { return g_error; }

}  // namespace vxdiag
