#include "platform/audio/schedule_position_record.h"

#include <algorithm>
#include <vector>

namespace kestio::platform::audio {

void SchedulePositionRecord::note(const Note& note) noexcept {
    const uint64_t at = written_.load(std::memory_order_relaxed);
    Slot& slot = slots_[at % kNotes];
    const uint64_t sequence = sequence_.load(std::memory_order_relaxed);
    sequence_.store(sequence + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    slot.clockTime.store(note.clockTime, std::memory_order_relaxed);
    slot.scheduleTime.store(note.scheduleTime, std::memory_order_relaxed);
    slot.moving.store(note.moving, std::memory_order_relaxed);
    slot.generation.store(note.generation, std::memory_order_relaxed);
    written_.store(at + 1, std::memory_order_relaxed);
    sequence_.store(sequence + 2, std::memory_order_release);
}

std::optional<double> SchedulePositionRecord::timeAt(double clockTime, uint64_t generation) const {
    std::vector<Note> notes;
    notes.reserve(kNotes);
    for (;;) {
        notes.clear();
        const uint64_t before = sequence_.load(std::memory_order_acquire);
        if ((before & 1u) != 0) {
            continue;
        }
        const uint64_t written = written_.load(std::memory_order_relaxed);
        const uint64_t first = written > kNotes ? written - kNotes : 0;
        for (uint64_t i = first; i < written; ++i) {
            const Slot& slot = slots_[i % kNotes];
            notes.push_back(Note{slot.clockTime.load(std::memory_order_relaxed),
                                 slot.scheduleTime.load(std::memory_order_relaxed),
                                 slot.moving.load(std::memory_order_relaxed),
                                 slot.generation.load(std::memory_order_relaxed)});
        }
        std::atomic_thread_fence(std::memory_order_acquire);
        if (sequence_.load(std::memory_order_relaxed) == before) {
            break;
        }
    }
    std::erase_if(notes, [generation](const Note& n) { return n.generation != generation; });
    if (notes.empty()) {
        return std::nullopt;
    }
    if (clockTime < notes.front().clockTime) {
        return notes.front().scheduleTime > 0.0 ? notes.front().scheduleTime : 0.0;
    }
    std::size_t i = notes.size() - 1;
    while (i > 0 && notes[i].clockTime > clockTime) {
        --i;
    }
    const Note& from = notes[i];
    if (!from.moving) {
        return from.scheduleTime;
    }
    if (i + 1 < notes.size()) {
        // Between two notes the schedule moved evenly (at the rate of any stretch on the way).
        const Note& to = notes[i + 1];
        const double span = to.clockTime - from.clockTime;
        const double fraction = span > 0.0 ? (clockTime - from.clockTime) / span : 1.0;
        return from.scheduleTime + (to.scheduleTime - from.scheduleTime) * fraction;
    }
    // Past the newest note: on at the pace of the last stretch between notes, for as long as
    // the render thread may take to note again.
    clockTime = std::min(clockTime, from.clockTime + kLongestGap);
    double pace = 1.0;
    if (i > 0 && notes[i - 1].moving && from.clockTime > notes[i - 1].clockTime) {
        pace = (from.scheduleTime - notes[i - 1].scheduleTime) /
               (from.clockTime - notes[i - 1].clockTime);
    }
    return from.scheduleTime + pace * (clockTime - from.clockTime);
}

}  // namespace kestio::platform::audio
