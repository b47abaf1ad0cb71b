#pragma once

// The run time of every thread of a process, read from /proc/<pid>/task/*: its name (comm) and
// the nanoseconds it ran on a CPU (the first field of schedstat, the clock a thread's own
// CLOCK_THREAD_CPUTIME_ID reads), and each thread name's share of one core between two readings.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace kestio::bench {

// Seconds the thread has run on a CPU.
inline double threadRunSeconds(int pid, int tid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/task/" + std::to_string(tid) +
                     "/schedstat");
    double nanoseconds = 0.0;
    in >> nanoseconds;
    return nanoseconds / 1e9;
}

// Run time of every thread of the process, keyed by thread id, with the thread's name.
struct ThreadTimes {
    std::map<int, std::pair<std::string, double>> byId;
};

inline ThreadTimes threadTimes(int pid) {
    ThreadTimes times;
    std::error_code error;
    const std::filesystem::path tasks = "/proc/" + std::to_string(pid) + "/task";
    for (const auto& entry : std::filesystem::directory_iterator(tasks, error)) {
        const int tid = std::atoi(entry.path().filename().c_str());
        std::ifstream comm(entry.path() / "comm");
        std::string name;
        std::getline(comm, name);
        times.byId[tid] = {name, threadRunSeconds(pid, tid)};
    }
    return times;
}

// Percent of one core each thread name used between two readings (threads of one name summed;
// a thread that began in between counts from zero).
inline std::map<std::string, double> sharesByName(const ThreadTimes& before,
                                                  const ThreadTimes& after, double wall) {
    std::map<std::string, double> shares;
    for (const auto& [tid, named] : after.byId) {
        const auto earlier = before.byId.find(tid);
        const double start = earlier != before.byId.end() ? earlier->second.second : 0.0;
        shares[named.first] += 100.0 * (named.second - start) / wall;
    }
    return shares;
}

// The process ids of the children of `parent` whose name (comm) is `name`.
inline std::vector<int> childrenNamed(int parent, const std::string& name) {
    std::vector<int> found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        const int pid = std::atoi(entry.path().filename().c_str());
        if (pid <= 0) {
            continue;
        }
        std::ifstream stat(entry.path() / "stat");
        std::string text;
        std::getline(stat, text);
        // pid (comm) state ppid ...: the name may hold spaces and parentheses.
        const auto open = text.find('(');
        const auto close = text.rfind(')');
        if (open == std::string::npos || close == std::string::npos) {
            continue;
        }
        int ppid = 0;
        char state = 0;
        std::istringstream rest(text.substr(close + 1));
        rest >> state >> ppid;
        if (ppid == parent && text.substr(open + 1, close - open - 1) == name) {
            found.push_back(pid);
        }
    }
    return found;
}

}  // namespace kestio::bench
