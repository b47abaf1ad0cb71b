#include "support/jack_server.h"

#include "support/process_runner.h"

#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

namespace kestio::test {

namespace {

std::atomic<int> serverCount{0};

// Starts a program with its output discarded; returns its pid, or -1. The program is killed
// when the test process ends, even by a crash, so no server outlives its test.
pid_t spawn(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        // Only async-signal-safe calls from here on: the parent may have other threads.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) {
            _exit(127);
        }
        const int devNull = ::open("/dev/null", O_WRONLY);
        if (devNull >= 0) {
            ::dup2(devNull, STDOUT_FILENO);
            ::dup2(devNull, STDERR_FILENO);
        }
        ::execvp(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

int waitExit(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

JackServer::JackServer()
    : name_("kt" + std::to_string(getpid()) + "_" + std::to_string(serverCount++)) {
    // JACK servers share one registry, and clients fail to open while another server starts
    // or stops; test processes running side by side therefore take turns (a blocking lock,
    // released by the process that holds it when it stops its server or exits).
    lockFd_ = ::open("/tmp/kestio-test-jack.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (lockFd_ >= 0) {
        while (flock(lockFd_, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    pid_ = spawn({"jackd", "-n", name_, "--no-realtime", "-t", "10000", "-d", "dummy", "-r",
                  "48000", "-p", "256"});
    if (pid_ <= 0) {
        pid_ = -1;
        failure_ = "jackd could not be started (is jackd2 installed?)";
        return;
    }
    // Ask the named server for its ports until it answers; give up when jackd exits or after
    // a generous guard. (jack_wait cannot wait for a server whose registry is not made yet.)
    setenv("JACK_NO_START_SERVER", "1", 1);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    bool answered = false;
    while (!answered && std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            failure_ = "jackd exited at start-up";
            return;
        }
        answered = runProcess({"jack_lsp", "-s", name_}, std::chrono::seconds(10)).succeeded();
        if (!answered) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));  // poll interval
        }
    }
    if (!answered) {
        stop();
        failure_ = "jackd did not answer within 20 s";
        return;
    }
    if (const char* previous = std::getenv("JACK_DEFAULT_SERVER")) {
        previousServer_ = previous;
    }
    setenv("JACK_DEFAULT_SERVER", name_.c_str(), 1);
}

JackServer::~JackServer() {
    const bool wasRunning = running();
    stop();
    if (wasRunning) {
        if (previousServer_) {
            setenv("JACK_DEFAULT_SERVER", previousServer_->c_str(), 1);
        } else {
            unsetenv("JACK_DEFAULT_SERVER");
        }
    }
}

void JackServer::stop() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitExit(pid_);
        pid_ = -1;
    }
    if (lockFd_ >= 0) {
        ::close(lockFd_);  // releases the lock
        lockFd_ = -1;
    }
}

}  // namespace kestio::test
