#pragma once

#include <chrono>
#include <string>
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

// The argument list as one line a person can paste into a shell (quoted where needed).
std::string commandLine(const std::vector<std::string>& argv);

// A multi-line description of a failed run: the command line, how it ended and its stderr.
std::string describeFailure(const std::vector<std::string>& argv, const ProcessResult& result);

}  // namespace kestio::test
