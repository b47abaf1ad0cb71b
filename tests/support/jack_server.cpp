#include "support/jack_server.h"

#include "support/process_runner.h"

#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace kestio::test {

namespace {

// JACK lists its servers in a registry of eight entries, and frees the entry of a server that
// died without stopping (killed with its test process) only when a server of the same name
// starts. Unique names would therefore fill the registry for good; since test processes take
// turns (the lock below), a few fixed names suffice, the next one serving while a killed
// server of the first is still going away.
constexpr int kServerNames = 3;

// The lock test processes take turns at, whichever user runs them: JACK's server table and its
// shared-memory registry are the machine's, not the user's.
constexpr const char* kLockPath = "/tmp/kestio-test-jack.lock";

// Opens the lock file, making it (writable by every user) when there is none. An existing file
// of another user is opened without O_CREAT, which fs.protected_regular refuses in /tmp.
int openLock(std::string& why) {
    for (;;) {
        int fd = ::open(kLockPath, O_RDWR | O_CLOEXEC);
        if (fd >= 0) {
            return fd;
        }
        if (errno == ENOENT) {
            fd = ::open(kLockPath, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd >= 0) {
                ::fchmod(fd, 0666);  // the umask took some of it
                return fd;
            }
            if (errno == EEXIST) {
                continue;  // another process made it first
            }
        }
        why = "the JACK servers' lock ";
        why += kLockPath;
        why += " cannot be opened: ";
        why += std::strerror(errno);
        return -1;
    }
}

// Waits until this process holds the lock of `fd`, for `wait` at most. flock() waits in the
// kernel, which wakes a waiting process as soon as the lock is released; polling would lose it to
// whichever process asks in between (the next test of the run that had it). The wait runs on a
// thread of its own so that it can be given up; a turn that comes after that is handed back.
bool takeTurn(int fd, std::chrono::seconds wait) {
    struct Turn {
        std::mutex mutex;
        std::condition_variable ended;
        bool done = false;
        bool held = false;
        bool abandoned = false;
    };
    const int waiting = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);  // the same open file: one lock for both
    if (waiting < 0) {
        return false;
    }
    auto turn = std::make_shared<Turn>();
    std::thread([turn, waiting] {
        int result = 0;
        while ((result = flock(waiting, LOCK_EX)) != 0 && errno == EINTR) {
        }
        std::lock_guard lock(turn->mutex);
        turn->held = result == 0 && !turn->abandoned;
        turn->done = true;
        // Once abandoned, `fd` is closed too: closing the last descriptor hands the lock back.
        ::close(waiting);
        turn->ended.notify_all();
    }).detach();
    std::unique_lock lock(turn->mutex);
    turn->ended.wait_for(lock, wait, [&] { return turn->done; });
    turn->abandoned = !turn->held;
    return turn->held;
}

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

// Stops a server with SIGTERM, and with SIGKILL when it has not gone within a few seconds: a
// jackd waiting on a lock of a broken metadata store never gets to its SIGTERM.
void stopProcess(pid_t pid) {
    ::kill(pid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            waitExit(pid);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));  // poll interval
    }
}

}  // namespace

JackServer::JackServer(Start when) {
    if (const char* previous = std::getenv("JACK_DEFAULT_SERVER")) {
        previousServer_ = previous;
    }
    setenv("JACK_NO_START_SERVER", "1", 1);
    // JACK servers share one registry, and clients fail to open while another server starts
    // or stops; test processes running side by side, of this test run or of another on the
    // machine, therefore take turns (a lock, released by the process that holds it when it stops
    // its server or exits). A turn that does not come within kTurnWait is this server's failure,
    // not a test that hangs until it is killed. Clients of this process then find no server
    // rather than another process's.
    lockFd_ = openLock(failure_);
    if (lockFd_ >= 0 && !takeTurn(lockFd_, kTurnWait)) {
        ::close(lockFd_);
        lockFd_ = -1;
        failure_ = "other test processes held the JACK servers' lock (";
        failure_ += kLockPath;
        failure_ += ") for " + std::to_string(kTurnWait.count()) + " s";
    }
    if (lockFd_ < 0) {
        setenv("JACK_DEFAULT_SERVER", "kestio-test-none", 1);
        return;
    }
    awaitPreviousServer();
    resetBrokenMetadataStore();
    if (when == Start::later) {
        name_ = "kestio-test-0";
        setenv("JACK_DEFAULT_SERVER", name_.c_str(), 1);
        return;
    }
    for (int n = 0; n < kServerNames; ++n) {
        name_ = "kestio-test-" + std::to_string(n);
        if (launch() != Launch::exitedAtStart) {
            break;
        }
    }
    setenv("JACK_DEFAULT_SERVER", name_.c_str(), 1);
    if (!running()) {
        stop();
    }
}

bool JackServer::start() {
    if (lockFd_ < 0 && !failure_.empty()) {
        return false;  // never had its turn
    }
    if (!running()) {
        launch();
    }
    return running();
}

void JackServer::kill() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        waitExit(pid_);
        pid_ = -1;
    }
}

void JackServer::freeze() {
    if (pid_ > 0) {
        ::kill(pid_, SIGSTOP);
    }
}

void JackServer::thaw() {
    if (pid_ > 0) {
        ::kill(pid_, SIGCONT);
    }
}

void JackServer::awaitPreviousServer() {
    // The lock file holds the pid of the last server started under it. A test process that
    // crashed leaves its server to the kernel's death signal, which may not have finished it
    // yet: a second server of the same name beside it would share its registry entry.
    char text[32] = {};
    if (::pread(lockFd_, text, sizeof text - 1, 0) <= 0) {
        return;
    }
    const pid_t previous = static_cast<pid_t>(std::atoi(text));
    if (previous <= 0) {
        return;
    }
    const auto commPath = "/proc/" + std::to_string(previous) + "/comm";
    const auto isJackd = [&] {
        const int fd = ::open(commPath.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            return false;
        }
        char comm[32] = {};
        const auto n = ::read(fd, comm, sizeof comm - 1);
        ::close(fd);
        return n > 0 && std::string(comm, static_cast<std::size_t>(n)).rfind("jackd", 0) == 0;
    };
    if (!isJackd()) {
        return;
    }
    ::kill(previous, SIGKILL);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (isJackd() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));  // not our child: poll
    }
}

void JackServer::resetBrokenMetadataStore() {
    // A store broken by a server killed in an earlier turn, of any test run, breaks every client.
    // No test process runs a JACK server or client now: libjack makes a new store at the next
    // open.
    if (jackMetadataStoreBroken()) {
        const std::string store = "/dev/shm/jack_db-" + std::to_string(::getuid());
        std::error_code ignored;
        std::filesystem::remove_all(store, ignored);
        std::fprintf(
            stderr,
            "JACK's metadata store %s crashed or held up a client that opened it: removed\n",
            store.c_str());
    }
}

void JackServer::recordServer() {
    if (lockFd_ < 0) {
        return;
    }
    const auto text = std::to_string(pid_ > 0 ? pid_ : 0) + "\n";
    if (::ftruncate(lockFd_, 0) == 0) {
        [[maybe_unused]] const auto written = ::pwrite(lockFd_, text.data(), text.size(), 0);
    }
}

JackServer::Launch JackServer::launch() {
    // --sync: each cycle waits for every client. In the default asynchronous mode a client that
    // misses a cycle (a loaded machine, a sanitizer build) leaves last cycle's events in its
    // port, and a reader then receives them a second time.
    // -t: a cycle waits this long for a late client. On a starved machine a client can be left
    // "triggered" but never run after an overrun; the server then stalls for the whole wait, and
    // a long one outlasts the tests' resends.
    pid_ = spawn({"jackd", "-n", name_, "--no-realtime", "--sync", "-t", "2000", "-d", "dummy",
                  "-r", "48000", "-p", "256"});
    if (pid_ <= 0) {
        pid_ = -1;
        failure_ = "jackd could not be started (is jackd2 installed?)";
        return Launch::failed;
    }
    recordServer();
    // Ask the named server for its ports until it answers; give up when jackd exits or after
    // a generous guard. (jack_wait cannot wait for a server whose registry is not made yet.)
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            failure_ =
                "jackd exited at start-up under every test server name (a JACK registry "
                "full of killed servers gives this: remove /dev/shm/jack-shm-registry "
                "while no jackd runs)";
            return Launch::exitedAtStart;
        }
        if (runProcess({"jack_lsp", "-s", name_}, std::chrono::seconds(10)).succeeded()) {
            return Launch::answered;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));  // poll interval
    }
    ::kill(pid_, SIGKILL);
    waitExit(pid_);
    pid_ = -1;
    failure_ = "jackd did not answer within 20 s";
    return Launch::failed;
}

JackServer::~JackServer() {
    stop();
    if (previousServer_) {
        setenv("JACK_DEFAULT_SERVER", previousServer_->c_str(), 1);
    } else {
        unsetenv("JACK_DEFAULT_SERVER");
    }
}

void JackServer::stop() {
    if (pid_ > 0) {
        thaw();
        stopProcess(pid_);
        pid_ = -1;
        recordServer();
    }
    if (lockFd_ >= 0) {
        ::close(lockFd_);  // releases the lock
        lockFd_ = -1;
    }
}

bool jackMetadataStoreBroken() {
    setenv("JACK_NO_START_SERVER", "1", 1);
    // jack_lsp opens the store before it looks for its server, which this name never has; it
    // takes some milliseconds.
    const auto client =
        runProcess({"jack_lsp", "-s", "kestio-test-none"}, std::chrono::seconds(20));
    return client.started && (client.timedOut || client.exitCode > 128);
}

}  // namespace kestio::test
