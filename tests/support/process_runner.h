#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kestio::test {

// What a finished (or abandoned) child process left behind.
struct ProcessResult {
    // False when the program could not be started at all; `errorOutput` then says why.
    bool started = false;
    // True when the time-out ran out and the child was killed.
    bool timedOut = false;
    // The exit status, or 128 + the signal number when a signal ended it; -1 when not started.
    int exitCode = -1;
    // Everything the child wrote to its standard output and standard error.
    std::string output;
    std::string errorOutput;

    bool succeeded() const { return started && !timedOut && exitCode == 0; }
};

// Runs argv[0] (looked up in PATH) with the given arguments, no shell involved, standard input
// tied to /dev/null, and waits for it for at most `timeout`, collecting what it writes. Safe to
// call from any thread and before a QApplication exists.
ProcessResult runProcess(const std::vector<std::string>& argv, std::chrono::milliseconds timeout);

// A child process that runs while the test goes on (a server, a recorder), its output taken in
// by a thread of its own as it arrives, each piece stamped with its time of arrival. Standard
// input is /dev/null; standard error is discarded or joins the output. The child gets SIGTERM
// when the thread that started it ends, so nothing outlives a test process that crashes or is
// killed (start it from the test's main thread). Started with fork and exec, never with a
// vfork-like clone that would run code in the parent's memory. Used from one thread.
class BackgroundProcess {
  public:
    enum class ErrorOutput { discard, withOutput };
    struct Chunk {
        std::chrono::steady_clock::time_point arrived;
        std::string bytes;
    };

    explicit BackgroundProcess(const std::vector<std::string>& argv,
                               ErrorOutput errors = ErrorOutput::discard);
    ~BackgroundProcess();
    BackgroundProcess(const BackgroundProcess&) = delete;
    BackgroundProcess& operator=(const BackgroundProcess&) = delete;

    // False when the program could not be started; failure() then says why.
    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    const std::string& failure() const { return failure_; }
    // True until the child has exited.
    bool running();
    // The output not taken yet, waiting up to `wait` for some to arrive; empty on time-out and
    // once the child has closed its output and all of it was taken.
    std::vector<Chunk> take(std::chrono::milliseconds wait);
    // Ends the child: SIGTERM, then SIGKILL if it is still there after five seconds; reaps it
    // and returns its exit status (128 + the signal number when a signal ended it), or -1 when
    // it never started. Called by the destructor too.
    int stop();

  private:
    void readOutput(int outputFd);
    bool reap(int options);

    pid_t pid_ = -1;
    bool reaped_ = false;
    int exitCode_ = -1;
    std::string failure_;
    int wakeFd_ = -1;  // an eventfd, written to end the reader
    std::thread reader_;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<Chunk> chunks_;      // guarded by mutex_
    std::size_t pendingBytes_ = 0;  // guarded by mutex_
    bool closed_ = false;           // guarded by mutex_
};

// The argument list as one line a person can paste into a shell (quoted where needed).
std::string commandLine(const std::vector<std::string>& argv);

// A multi-line description of a failed run: the command line, how it ended and its stderr.
std::string describeFailure(const std::vector<std::string>& argv, const ProcessResult& result);

}  // namespace kestio::test
