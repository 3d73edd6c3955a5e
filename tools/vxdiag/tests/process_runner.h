// Runs a program as a child process (POSIX fork/exec) with its stdout and
// stderr on pipes, or both on a pseudo-terminal, so a test can read its
// output while it runs, send it signals by pid and read its exit status.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace vxdiag::test {

struct ProcessResult {
    int exit_code = -1;  // 128 + the signal number when a signal ended it
    std::string out;
    std::string err;     // empty on a terminal: both streams are in `out`
};

struct Launch {
    std::vector<std::string> args;         // args[0] is the program's path
    std::vector<std::string> environment;  // NAME=value, the whole environment
    std::string folder = ".";              // the working folder
    bool terminal = false;                 // stdout and stderr on one pseudo-terminal
    std::string stdout_file;               // else, when set, stdout goes to this file
};

class ChildProcess {
public:
    explicit ChildProcess(const Launch& launch) {
        std::vector<char*> argv = pointers(launch.args);
        std::vector<char*> envp = pointers(launch.environment);
        int out[2] = {-1, -1};
        int err[2] = {-1, -1};
        if (launch.terminal) {
            out[0] = posix_openpt(O_RDWR | O_NOCTTY);
            grantpt(out[0]);
            unlockpt(out[0]);
            out[1] = open(ptsname(out[0]), O_RDWR | O_NOCTTY);
            err[1] = dup(out[1]);
        } else if (pipe(out) != 0 || pipe(err) != 0) {
            return;
        }
        if (!launch.stdout_file.empty()) {
            close(out[1]);
            out[1] = open(launch.stdout_file.c_str(), O_WRONLY);
        }
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], STDOUT_FILENO);
            dup2(err[1], STDERR_FILENO);
            if (chdir(launch.folder.c_str()) == 0) execve(argv[0], argv.data(), envp.data());
            _exit(127);
        }
        close(out[1]);
        close(err[1]);
        fds_[0] = out[0];
        fds_[1] = err[0];
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess() {
        if (pid_ <= 0 || finished_) return;
        kill(pid_, SIGKILL);
        finish();
    }

    // Reads stdout until it holds `text`; false when the child closed it first.
    bool wait_for_output(const std::string& text) {
        while (result_.out.find(text) == std::string::npos) {
            if (!read_some()) return false;
        }
        return true;
    }
    void send_signal(int number) const { kill(pid_, number); }

    ProcessResult finish() {
        while (read_some()) continue;
        int status = 0;
        if (pid_ > 0 && waitpid(pid_, &status, 0) == pid_) {
            result_.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        finished_ = true;
        return result_;
    }

private:
    static std::vector<char*> pointers(const std::vector<std::string>& texts) {
        std::vector<char*> list;
        for (const std::string& text : texts) list.push_back(const_cast<char*>(text.c_str()));
        list.push_back(nullptr);
        return list;
    }

    // Waits for output on either stream and appends it; false once both ended
    // (a pseudo-terminal answers EIO when the child's side is closed).
    bool read_some() {
        pollfd polled[2] = {{fds_[0], POLLIN, 0}, {fds_[1], POLLIN, 0}};
        if (fds_[0] < 0 && fds_[1] < 0) return false;
        if (poll(polled, 2, -1) < 0) return true;
        std::string* const into[2] = {&result_.out, &result_.err};
        for (int i = 0; i < 2; ++i) {
            if (fds_[i] < 0 || polled[i].revents == 0) continue;
            char chunk[4096];
            const ssize_t got = read(fds_[i], chunk, sizeof chunk);
            if (got > 0) {
                into[i]->append(chunk, static_cast<std::size_t>(got));
            } else {
                close(fds_[i]);
                fds_[i] = -1;
            }
        }
        return true;
    }

    pid_t pid_ = -1;
    int fds_[2] = {-1, -1};
    bool finished_ = false;
    ProcessResult result_;
};

}  // namespace vxdiag::test
