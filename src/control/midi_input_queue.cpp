#include "control/midi_input_queue.h"

#include <algorithm>

namespace kestio {

namespace {
constexpr std::size_t kKinds = 3;
constexpr std::size_t kChannels = 16;
constexpr std::size_t kNumbers = 128;
constexpr std::size_t kPlaces = kKinds * kChannels * kNumbers;
}  // namespace

MIDIInputQueue::MIDIInputQueue() : entries_(kPlaces), waiting_(kPlaces, false) {
    places_.reserve(kPlaces);
}

std::size_t MIDIInputQueue::placeOf(const MIDIMessage& message) {
    const auto kind = static_cast<std::size_t>(message.kind);
    return (kind * kChannels + (message.channel & 0x0F)) * kNumbers + (message.data1 & 0x7F);
}

bool MIDIInputQueue::put(const MIDIMessage& message, double arrivedAt) {
    const std::size_t place = placeOf(message);
    std::lock_guard lock(mutex_);
    if (waiting_[place]) {
        ++replaced_;
    } else {
        waiting_[place] = true;
        places_.push_back(static_cast<std::uint16_t>(place));
    }
    entries_[place] = {message, arrivedAt, nextOrder_++};
    const bool askForTake = !takePending_;
    takePending_ = true;
    return askForTake;
}

MIDIInputQueue::Batch MIDIInputQueue::take() {
    Batch batch;
    {
        std::lock_guard lock(mutex_);
        batch.entries.reserve(places_.size());
        for (const auto place : places_) {
            batch.entries.push_back(entries_[place]);
            waiting_[place] = false;
        }
        places_.clear();
        batch.replaced = replaced_;
        replaced_ = 0;
        takePending_ = false;
    }
    std::sort(batch.entries.begin(), batch.entries.end(),
              [](const Entry& a, const Entry& b) { return a.order < b.order; });
    return batch;
}

}  // namespace kestio
