#pragma once

// Runs a piece of test code in a forked child process, for checks that need a real process
// boundary (a restart, a kill in the middle of a write).

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <exception>
#include <functional>
#include <thread>

namespace kestio::test {

struct ChildResult {
    bool exited = false;  // ended by _exit; otherwise killed by a signal
    int code = -1;        // exit code, or the signal number
    bool hung = false;    // killed for passing its wall-time limit
};

inline ChildResult waitForChild(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    if (WIFEXITED(status)) {
        return {true, WEXITSTATUS(status)};
    }
    return {false, WIFSIGNALED(status) ? WTERMSIG(status) : -1};
}

// Calls `body` in a child; the child exits with 0 unless body throws (exit code 1). The
// child never returns into the test framework.
inline pid_t startChild(const std::function<void()>& body) {
    const pid_t pid = fork();
    if (pid == 0) {
        int code = 0;
        try {
            body();
        } catch (...) {
            code = 1;
        }
        _exit(code);
    }
    return pid;
}

inline ChildResult runInChild(const std::function<void()>& body) {
    return waitForChild(startChild(body));
}

// The same, with the child killed (SIGKILL) when it has not ended within `limit` of wall time.
inline ChildResult runInChildFor(std::chrono::steady_clock::duration limit,
                                 const std::function<void()>& body) {
    const pid_t pid = startChild(body);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (true) {
        const pid_t ended = waitpid(pid, &status, WNOHANG);
        if (ended == pid) {
            break;
        }
        if (ended < 0 && errno != EINTR) {
            return {};
        }
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            ChildResult result = waitForChild(pid);
            result.hung = true;
            return result;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));  // polls the child's end
    }
    if (WIFEXITED(status)) {
        return {true, WEXITSTATUS(status)};
    }
    return {false, WIFSIGNALED(status) ? WTERMSIG(status) : -1};
}

}  // namespace kestio::test
