#include "support/jack_server.h"

#include "support/process_runner.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <vector>

extern char** environ;

namespace kestio::test {

namespace {

std::atomic<int> serverCount{0};

// Starts a program with its output discarded; returns its pid, or -1.
pid_t spawn(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
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
    : name_("kestio-test-" + std::to_string(getpid()) + "-" + std::to_string(serverCount++)) {
    pid_ =
        spawn({"jackd", "-n", name_, "--no-realtime", "-d", "dummy", "-r", "48000", "-p", "256"});
    if (pid_ <= 0) {
        pid_ = -1;
        failure_ = "jackd could not be started (is jackd2 installed?)";
        return;
    }
    // jack_wait blocks until the named server answers (or gives up after its time-out).
    const ProcessResult waited =
        runProcess({"jack_wait", "-w", "-s", name_, "-t", "20"}, std::chrono::seconds(30));
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        failure_ = "jackd exited at start-up";
        return;
    }
    if (!waited.succeeded()) {
        stop();
        failure_ = "jackd did not come up within 20 s";
        return;
    }
    if (const char* previous = std::getenv("JACK_DEFAULT_SERVER")) {
        previousServer_ = previous;
    }
    setenv("JACK_DEFAULT_SERVER", name_.c_str(), 1);
}

JackServer::~JackServer() {
    if (running()) {
        stop();
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
}

}  // namespace kestio::test
