#pragma once

#include <atomic>
#include <cstdint>
#include <optional>

namespace kestio::platform::audio {

// Where a player's schedule is heard: the render thread notes, as it renders, at which engine
// position (clock time) the schedule stood where; the main thread reads the notes back. One
// note per engine render part while the player plays, and one where it starts or stops
// moving; the newest kNotes are kept (a device's latency spans far fewer).
class SchedulePositionRecord {
  public:
    static constexpr uint32_t kNotes = 32;
    // The longest the schedule is taken to move on past the newest note.
    static constexpr double kLongestGap = 0.1;

    struct Note {
        double clockTime = 0.0;     // engine position
        double scheduleTime = 0.0;  // seconds of the schedule played before it
        bool moving = false;        // the schedule moves on from here
        uint64_t generation = 0;    // the play or stop it belongs to
    };

    // Render thread.
    void note(const Note& note) noexcept;
    // Any thread: the schedule's time heard at `clockTime` among notes of `generation`;
    // nothing when there is none yet, 0 before the first.
    std::optional<double> timeAt(double clockTime, uint64_t generation) const;

  private:
    std::atomic<uint64_t> sequence_{0};
    std::atomic<uint64_t> written_{0};
    struct Slot {
        std::atomic<double> clockTime{0.0};
        std::atomic<double> scheduleTime{0.0};
        std::atomic<bool> moving{false};
        std::atomic<uint64_t> generation{0};
    };
    Slot slots_[kNotes];
};

}  // namespace kestio::platform::audio
