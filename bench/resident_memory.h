#pragma once

// Resident memory of this process and of a child command, for the memory benchmarks.

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <string>
#include <vector>

namespace kestio::bench {

namespace detail {
inline double statusKilobytes(const std::string& wanted) {
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == wanted) {
            double kb = 0.0;
            status >> kb;
            return kb;
        }
        status.ignore(1 << 16, '\n');
    }
    return 0.0;
}
}  // namespace detail

// Resident set size of this process in bytes (VmRSS).
inline double residentBytes() {
    return detail::statusKilobytes("VmRSS:") * 1024.0;
}

// The most this process has held resident since the last resetPeakResident() (VmHWM).
inline double peakResidentBytes() {
    return detail::statusKilobytes("VmHWM:") * 1024.0;
}

// Lowers the high-water mark of peakResidentBytes() to what is resident now, so that a
// benchmark's peak is its own and not that of what ran before it in the process.
inline void resetPeakResident() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

// The peak resident bytes of the command `argv` run to its end, its output discarded; 0 when
// it could not run or failed. Read from the child's own high-water mark while it runs (every
// 2 ms): its resource usage would also count what it held of this process before exec.
inline double childPeakBytes(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const auto& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    const pid_t pid = fork();
    if (pid < 0) {
        return 0.0;
    }
    if (pid == 0) {
        // Only async-signal-safe calls between fork and exec: the parent has threads.
        const int null = open("/dev/null", O_RDWR);
        if (null >= 0) {
            dup2(null, 0);
            dup2(null, 1);
            dup2(null, 2);
        }
        execvp(args[0], args.data());
        _exit(127);
    }
    const std::string program = argv.front().substr(argv.front().rfind('/') + 1);
    const std::string statusPath = "/proc/" + std::to_string(pid) + "/status";
    double peakKb = 0.0;
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            break;
        }
        if (done < 0 && errno != EINTR) {
            return 0.0;
        }
        std::ifstream file(statusPath);
        std::string key;
        bool execed = false;
        while (file >> key) {
            if (key == "Name:") {
                std::string name;
                file >> name;
                execed = program.rfind(name, 0) == 0;  // names are cut to 15 characters
            } else if (key == "VmHWM:" && execed) {
                double kb = 0.0;
                file >> kb;
                peakKb = std::max(peakKb, kb);
            }
            file.ignore(1 << 16, '\n');
        }
        usleep(2000);
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return 0.0;
    }
    return peakKb * 1024.0;
}

}  // namespace kestio::bench
