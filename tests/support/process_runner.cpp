#include "support/process_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace kestio::test {

namespace {

// Enough for a decoded picture or any diagnostic; a runaway child cannot fill the memory.
constexpr std::size_t kMaxCapture = 64 * 1024 * 1024;

int remainingMilliseconds(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() <= 0 ? 0 : static_cast<int>(left.count());
}

int waitForExit(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    if (WIFSIGNALED(status)) {
        return 128 + WTERMSIG(status);
    }
    return -1;
}

}  // namespace

ProcessResult runProcess(const std::vector<std::string>& argv, std::chrono::milliseconds timeout) {
    ProcessResult result;
    if (argv.empty()) {
        result.errorOutput = "no program given";
        return result;
    }

    int outputPipe[2];
    int errorPipe[2];
    if (pipe2(outputPipe, O_CLOEXEC) != 0) {
        result.errorOutput = std::string("pipe2 failed: ") + std::strerror(errno);
        return result;
    }
    if (pipe2(errorPipe, O_CLOEXEC) != 0) {
        result.errorOutput = std::string("pipe2 failed: ") + std::strerror(errno);
        close(outputPipe[0]);
        close(outputPipe[1]);
        return result;
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outputPipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errorPipe[1], STDERR_FILENO);

    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);

    pid_t pid = 0;
    const int spawnError = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(outputPipe[1]);
    close(errorPipe[1]);
    if (spawnError != 0) {
        close(outputPipe[0]);
        close(errorPipe[0]);
        result.errorOutput =
            "cannot start " + argv[0] + ": " + std::strerror(spawnError) +
            (spawnError == ENOENT ? " (is it installed? scripts/setup installs it)" : "");
        return result;
    }
    result.started = true;

    // Read both pipes until the child closes them (normally by exiting) or time runs out.
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    pollfd entries[2] = {{outputPipe[0], POLLIN, 0}, {errorPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.output, &result.errorOutput};
    char buffer[4096];
    int openPipes = 2;
    while (openPipes > 0) {
        const int ready = poll(entries, 2, remainingMilliseconds(deadline));
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (ready == 0) {
            result.timedOut = true;
            kill(pid, SIGKILL);
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (entries[i].fd < 0 || entries[i].revents == 0) {
                continue;
            }
            const ssize_t count = read(entries[i].fd, buffer, sizeof buffer);
            if (count < 0 && errno == EINTR) {
                continue;
            }
            if (count <= 0) {
                close(entries[i].fd);
                entries[i].fd = -1;  // poll ignores negative descriptors
                --openPipes;
                continue;
            }
            if (sinks[i]->size() < kMaxCapture) {
                sinks[i]->append(buffer, static_cast<std::size_t>(count));
            }
        }
    }
    for (pollfd& entry : entries) {
        if (entry.fd >= 0) {
            close(entry.fd);
        }
    }
    result.exitCode = waitForExit(pid);
    return result;
}

std::string commandLine(const std::vector<std::string>& argv) {
    std::string line;
    for (const std::string& arg : argv) {
        if (!line.empty()) {
            line += ' ';
        }
        const bool plain = !arg.empty() && arg.find_first_not_of(
                                               "abcdefghijklmnopqrstuvwxyz"
                                               "ABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                               "0123456789-_./=:+,@%") == std::string::npos;
        if (plain) {
            line += arg;
            continue;
        }
        line += '\'';
        for (char c : arg) {
            if (c == '\'') {
                line += "'\\''";
            } else {
                line += c;
            }
        }
        line += '\'';
    }
    return line;
}

std::string describeFailure(const std::vector<std::string>& argv, const ProcessResult& result) {
    std::string text = "command: " + commandLine(argv) + "\n";
    if (!result.started) {
        text += "not started\n";
    } else if (result.timedOut) {
        text += "killed after its time-out\n";
    } else {
        text += "exit status " + std::to_string(result.exitCode) + "\n";
    }
    if (!result.errorOutput.empty()) {
        text += "stderr:\n" + result.errorOutput;
        if (result.errorOutput.back() != '\n') {
            text += '\n';
        }
    }
    return text;
}

}  // namespace kestio::test
