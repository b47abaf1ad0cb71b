#include "support/process_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iterator>

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

int exitCodeOf(int status) {
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    if (WIFSIGNALED(status)) {
        return 128 + WTERMSIG(status);
    }
    return -1;
}

int waitForExit(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return exitCodeOf(status);
}

// The argument vector of exec, pointing into `argv`.
std::vector<char*> execArguments(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    return args;
}

std::string cannotStart(const std::string& program, int error) {
    return "cannot start " + program + ": " + std::strerror(error) +
           (error == ENOENT ? " (is it installed? scripts/setup installs it)" : "");
}

// True when `pid`, not yet reaped, exits within `timeout`.
bool exitsWithin(pid_t pid, std::chrono::milliseconds timeout) {
    const int fd = int(syscall(SYS_pidfd_open, pid, 0));
    if (fd < 0) {
        return false;
    }
    pollfd entry{fd, POLLIN, 0};
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int ready = 0;
    while ((ready = poll(&entry, 1, remainingMilliseconds(deadline))) < 0 && errno == EINTR) {
    }
    close(fd);
    return ready > 0;
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

    std::vector<char*> args = execArguments(argv);
    pid_t pid = 0;
    const int spawnError = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(outputPipe[1]);
    close(errorPipe[1]);
    if (spawnError != 0) {
        close(outputPipe[0]);
        close(errorPipe[0]);
        result.errorOutput = cannotStart(argv[0], spawnError);
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

BackgroundProcess::BackgroundProcess(const std::vector<std::string>& argv, ErrorOutput errors) {
    closed_ = true;  // until a reader runs
    if (argv.empty()) {
        failure_ = "no program given";
        return;
    }
    // The child's output, and the report of a failed exec (closed unread when exec succeeds).
    int output[2];
    int status[2];
    if (pipe2(output, O_CLOEXEC) != 0) {
        failure_ = std::string("pipe2 failed: ") + std::strerror(errno);
        return;
    }
    if (pipe2(status, O_CLOEXEC) != 0) {
        failure_ = std::string("pipe2 failed: ") + std::strerror(errno);
        close(output[0]);
        close(output[1]);
        return;
    }
    std::vector<char*> args = execArguments(argv);
    const bool joinErrors = errors == ErrorOutput::withOutput;
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        // Only async-signal-safe calls until exec: the parent has other threads.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) {
            _exit(127);  // the parent is gone already
        }
        const int devNull = open("/dev/null", O_RDWR);
        dup2(devNull, STDIN_FILENO);
        dup2(output[1], STDOUT_FILENO);
        dup2(joinErrors ? output[1] : devNull, STDERR_FILENO);
        if (devNull > STDERR_FILENO) {
            close(devNull);
        }
        execvp(args[0], args.data());
        const int error = errno;
        [[maybe_unused]] const ssize_t written = write(status[1], &error, sizeof error);
        _exit(127);
    }
    const int forkError = errno;
    close(output[1]);
    close(status[1]);
    if (pid < 0) {
        close(output[0]);
        close(status[0]);
        failure_ = std::string("fork failed: ") + std::strerror(forkError);
        return;
    }
    int execError = 0;
    ssize_t count = 0;
    while ((count = read(status[0], &execError, sizeof execError)) < 0 && errno == EINTR) {
    }
    close(status[0]);
    if (count == sizeof execError) {
        close(output[0]);
        waitForExit(pid);
        failure_ = cannotStart(argv[0], execError);
        return;
    }
    pid_ = pid;
    wakeFd_ = eventfd(0, EFD_CLOEXEC);
    closed_ = false;
    reader_ = std::thread([this, fd = output[0]] { readOutput(fd); });
}

BackgroundProcess::~BackgroundProcess() {
    stop();
}

void BackgroundProcess::readOutput(int fd) {
    pollfd entries[2] = {{fd, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    char buffer[16384];
    for (;;) {
        if (poll(entries, wakeFd_ >= 0 ? 2 : 1, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (wakeFd_ >= 0 && entries[1].revents != 0) {
            break;
        }
        const ssize_t count = read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            break;
        }
        const auto now = std::chrono::steady_clock::now();
        {
            std::lock_guard lock(mutex_);
            if (pendingBytes_ < kMaxCapture) {
                chunks_.push_back({now, std::string(buffer, std::size_t(count))});
                pendingBytes_ += std::size_t(count);
            }
        }
        arrived_.notify_all();
    }
    close(fd);
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    arrived_.notify_all();
}

bool BackgroundProcess::reap(int options) {
    if (reaped_ || !started()) {
        return true;
    }
    int status = 0;
    pid_t done = 0;
    while ((done = waitpid(pid_, &status, options)) < 0 && errno == EINTR) {
    }
    if (done == 0) {
        return false;
    }
    reaped_ = true;
    exitCode_ = done < 0 ? -1 : exitCodeOf(status);
    return true;
}

bool BackgroundProcess::running() {
    return !reap(WNOHANG);
}

std::vector<BackgroundProcess::Chunk> BackgroundProcess::take(std::chrono::milliseconds wait) {
    std::unique_lock lock(mutex_);
    arrived_.wait_for(lock, wait, [&] { return !chunks_.empty() || closed_; });
    std::vector<Chunk> taken(std::make_move_iterator(chunks_.begin()),
                             std::make_move_iterator(chunks_.end()));
    chunks_.clear();
    pendingBytes_ = 0;
    return taken;
}

int BackgroundProcess::stop() {
    if (!reap(WNOHANG)) {
        kill(pid_, SIGTERM);
        if (!exitsWithin(pid_, std::chrono::seconds(5))) {
            kill(pid_, SIGKILL);
        }
        reap(0);
    }
    if (reader_.joinable()) {
        // The output may stay open in a grandchild: the reader is told to go.
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = write(wakeFd_, &one, sizeof one);
        reader_.join();
    }
    if (wakeFd_ >= 0) {
        close(wakeFd_);
        wakeFd_ = -1;
    }
    return exitCode_;
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
