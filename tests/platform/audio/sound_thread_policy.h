#pragma once

// The scheduling of this process's sound threads, for tests that check it.

#include <sched.h>
#include <sys/types.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "platform/audio/realtime_scheduling.h"

namespace kestio::test {

// Empty when a thread of this process may run under the real-time policy at the sound threads'
// priority; else why not (tried on a thread of its own, which then ends).
inline std::string soundThreadsMayRunInRealTime() {
    std::string refused;
    std::thread([&] { refused = platform::audio::scheduleCallingThreadInRealTime(); }).join();
    return refused;
}

// The scheduling policy of the first thread of this process named `name` (without the
// SCHED_RESET_ON_FORK flag); -1 when there is none.
inline int policyOfThreadNamed(const std::string& name) {
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string line;
        if (std::getline(comm, line) && line == name) {
            const pid_t tid = static_cast<pid_t>(std::stol(task.path().filename().string()));
            const int policy = sched_getscheduler(tid);
            return policy < 0 ? -1 : policy & ~SCHED_RESET_ON_FORK;
        }
    }
    return -1;
}

}  // namespace kestio::test
