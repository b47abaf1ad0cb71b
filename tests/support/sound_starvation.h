#pragma once

// Tells a sound test that failed because the machine starved the threads that carry its sound
// (the output's render thread, the sound server, the recording) from one that failed because
// the program is at fault. A test's attempt notes how late those threads ran; an attempt that
// failed while they were late is run again, a few times; the test fails as it stands when they
// were on time, and, when they never were, fails saying that the machine never gave them their
// time.

#include <functional>
#include <string>

namespace kestio::test {

// How late the threads that carry a test's sound ran, over an attempt, in seconds.
struct SoundThreadDelays {
    double renderThread = 0.0;  // the output's render thread: its latest wake
    double recorder = 0.0;      // the recording: its latest piece (the server's sink or itself)
    int underflows = 0;         // times the server found the output's stream empty
    int recordingHoles = 0;     // stretches the recording had no sound for

    // The later of each, the sum of the counts.
    SoundThreadDelays& operator+=(const SoundThreadDelays& other);
    // Which thread ran how late, as a failure puts it.
    std::string describe() const;
};

// Later than this, the output's render thread may have let its stream run dry (it holds 20 ms).
constexpr double kStarvedSeconds = 0.010;
// A recording whose pieces come this late had a sound server held up for that long (its pieces
// come every few milliseconds, a little unevenly).
constexpr double kStarvedServerSeconds = 0.050;
// Starved: the render thread came late, the server found the output's stream empty (which,
// the render thread on time, is the server's lateness), the recording lost sound or came late.
bool starved(const SoundThreadDelays& delays);

// What an attempt notes its delays to. notedAtEnd() takes them from `measure` when the returned
// guard goes, so that an attempt ended early by a failed assertion notes them too: declare it
// after what `measure` reads.
class SoundThreadWatch {
  public:
    class Noted {
      public:
        Noted(SoundThreadWatch& watch, std::function<SoundThreadDelays()> measure)
            : watch_(watch), measure_(std::move(measure)) {}
        ~Noted() { watch_.note(measure_()); }
        Noted(const Noted&) = delete;
        Noted& operator=(const Noted&) = delete;

      private:
        SoundThreadWatch& watch_;
        std::function<SoundThreadDelays()> measure_;
    };
    [[nodiscard]] Noted notedAtEnd(std::function<SoundThreadDelays()> measure) {
        return Noted(*this, std::move(measure));
    }
    void note(const SoundThreadDelays& delays) { delays_ += delays; }
    const SoundThreadDelays& delays() const { return delays_; }

  private:
    SoundThreadDelays delays_;
};

// Runs `attempt` (whose assertions are those of the calling test) up to `attempts` times: until
// it passes, or fails with its sound threads on time (its failures stand, saying the threads
// were on time). Each attempt that failed while they were starved is reported on the test's
// output; when every attempt was, the test fails with the last one's failures and says that
// the machine, not the program, was at fault.
void runOnAFedMachine(const std::function<void(SoundThreadWatch&)>& attempt, int attempts = 4);

}  // namespace kestio::test
