#include "model/slot_data.h"

#include <algorithm>

namespace kestio {

void SlotData::addMIDIBinding(std::int64_t channel, std::int64_t note) {
    if (!midiBindings) {
        midiBindings.emplace();
    }
    const MIDINoteBinding binding{channel, note};
    if (std::find(midiBindings->begin(), midiBindings->end(), binding) == midiBindings->end()) {
        midiBindings->push_back(binding);
    }
}

bool SlotData::operator==(const SlotData& other) const {
    if (name != other.name || videoURL != other.videoURL || bookmarkData != other.bookmarkData ||
        mediaType != other.mediaType || clipInfo != other.clipInfo) {
        return false;
    }
    if (inPoint != other.inPoint || outPoint != other.outPoint) {
        return false;
    }
    if (postRollMode != other.postRollMode || jumpTarget != other.jumpTarget) {
        return false;
    }
    if (stillDuration != other.stillDuration || geometry != other.geometry ||
        audioSettings != other.audioSettings || equalizer != other.equalizer ||
        colorSettings != other.colorSettings) {
        return false;
    }
    if (transitionMode != other.transitionMode || dissolveDuration != other.dissolveDuration ||
        playRate != other.playRate) {
        return false;
    }
    if (thumbnailFileName != other.thumbnailFileName || midiBindings != other.midiBindings ||
        midiOutputBinding != other.midiOutputBinding) {
        return false;
    }
    if (isFileMissing != other.isFileMissing ||
        waveformData.has_value() != other.waveformData.has_value()) {
        return false;
    }
    if (thumbnail.has_value() != other.thumbnail.has_value()) {
        return false;
    }
    return !thumbnail || thumbnail->size() == other.thumbnail->size();
}

}  // namespace kestio
