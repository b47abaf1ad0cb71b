#pragma once

#include <string>

namespace kestio::platform::audio {

// The priority of the threads that render sound, under the real-time FIFO policy: above every
// ordinary thread, below the sound servers' own (PulseAudio asks for 5, JACK for 10 and more),
// whose deadlines come first.
inline constexpr int kSoundThreadPriority = 4;

// Moves the calling thread to the real-time FIFO policy at `priority`, so that it runs before
// ordinary threads however busy the machine is: a thread that renders sound has to finish each
// block within the block's period. Processes forked from the thread later do not inherit it.
// Returns an empty string when done; otherwise why the system refused (the process lacks the
// privilege: CAP_SYS_NICE, or an RLIMIT_RTPRIO of at least `priority`), the thread keeping its
// policy.
std::string scheduleCallingThreadInRealTime(int priority = kSoundThreadPriority);

// What asking for real-time scheduling came to.
struct RealTimeAnswer {
    std::string refused;         // empty: the thread runs in real time
    bool byRealtimeKit = false;  // RealtimeKit granted it, the process not being allowed itself
};

// As scheduleCallingThreadInRealTime(); where the process may not schedule itself so, asks
// RealtimeKit (see realtime_kit.h), which puts the thread under the round-robin policy. What was
// refused says why the process may not, and why RealtimeKit did not grant it.
RealTimeAnswer askForRealTime(int priority = kSoundThreadPriority);

// Moves the calling thread back to ordinary scheduling (always allowed).
void scheduleCallingThreadOrdinarily();

// The calling thread's priority under a real-time policy (FIFO or round-robin); 0 when it is
// scheduled ordinarily.
int realTimePriorityOfCallingThread();

// Watches how much of its time a real-time sound thread spends working. One that works nearly
// all the time (the machine cannot render the show as fast as it plays, or a fault keeps it
// busy) keeps ordinary threads, the user interface's among them, off its CPU: it is told to step
// down to ordinary scheduling, and to come back once its work has eased for a while. Plain
// arithmetic on the times it is given, so that tests drive it with made-up ones.
class RealTimeDutyWatch {
  public:
    enum class Step { Stay, StepDown, StepUp };
    // Work over this share of a window of kWindowSeconds steps the thread down.
    static constexpr double kMostDuty = 0.8;
    // After that many windows in a row under this share it steps up again.
    static constexpr double kEasedDuty = 0.4;
    static constexpr int kEasedWindows = 5;
    static constexpr double kWindowSeconds = 1.0;

    // `wall` and `cpu`: the thread's wall-clock time and the CPU time it has used, in seconds,
    // now (both only grow). `realTime`: whether it runs under the real-time policy now.
    Step look(double wall, double cpu, bool realTime);
    // The share of the last whole window the thread worked (0 before the first).
    double lastDuty() const { return lastDuty_; }

  private:
    bool started_ = false;
    double windowWall_ = 0.0;
    double windowCpu_ = 0.0;
    double lastDuty_ = 0.0;
    int easedWindows_ = 0;
};

}  // namespace kestio::platform::audio
