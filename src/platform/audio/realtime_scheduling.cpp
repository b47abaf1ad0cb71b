#include "platform/audio/realtime_scheduling.h"

#include <sched.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "platform/audio/realtime_kit.h"

namespace kestio::platform::audio {

namespace {

// 0 when done, else the system's error.
int setRealTime(int priority) {
    sched_param param{};
    param.sched_priority = priority;
    // On Linux, process id 0 names the calling thread alone.
    return sched_setscheduler(0, SCHED_FIFO | SCHED_RESET_ON_FORK, &param) == 0 ? 0 : errno;
}

std::string whyRefused(int error, int priority) {
    if (error == EPERM) {
        return "the system does not let this process use real-time scheduling (it needs "
               "CAP_SYS_NICE, or a real-time priority limit of at least " +
               std::to_string(priority) + ", as members of an audio group usually have)";
    }
    return "real-time scheduling was refused: " + std::generic_category().message(error);
}

}  // namespace

std::string scheduleCallingThreadInRealTime(int priority) {
    const int error = setRealTime(priority);
    return error == 0 ? std::string() : whyRefused(error, priority);
}

RealTimeAnswer askForRealTime(int priority) {
    const int error = setRealTime(priority);
    if (error == 0) {
        return {};
    }
    RealTimeAnswer answer{whyRefused(error, priority)};
    if (error != EPERM) {
        return answer;
    }
    const std::string kit = askRealtimeKit(gettid(), priority);
    if (kit.empty()) {
        return RealTimeAnswer{{}, true};
    }
    answer.refused += "; " + kit;
    return answer;
}

void scheduleCallingThreadOrdinarily() {
    const sched_param ordinary{};
    sched_setscheduler(0, SCHED_OTHER, &ordinary);
}

int realTimePriorityOfCallingThread() {
    const int policy = sched_getscheduler(0) & ~SCHED_RESET_ON_FORK;
    if (policy != SCHED_FIFO && policy != SCHED_RR) {
        return 0;
    }
    sched_param param{};
    return sched_getparam(0, &param) == 0 ? param.sched_priority : 0;
}

RealTimeDutyWatch::Step RealTimeDutyWatch::look(double wall, double cpu, bool realTime) {
    if (!started_) {
        started_ = true;
        windowWall_ = wall;
        windowCpu_ = cpu;
        return Step::Stay;
    }
    const double span = wall - windowWall_;
    if (span < kWindowSeconds) {
        return Step::Stay;
    }
    lastDuty_ = (cpu - windowCpu_) / span;
    windowWall_ = wall;
    windowCpu_ = cpu;
    easedWindows_ = lastDuty_ < kEasedDuty ? easedWindows_ + 1 : 0;
    if (realTime && lastDuty_ > kMostDuty) {
        return Step::StepDown;
    }
    if (!realTime && easedWindows_ >= kEasedWindows) {
        easedWindows_ = 0;
        return Step::StepUp;
    }
    return Step::Stay;
}

}  // namespace kestio::platform::audio
