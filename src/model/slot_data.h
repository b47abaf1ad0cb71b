#pragma once

// One cue of the show: the clip file and how to play it. The first group of fields is stored in
// "data.json"; videoURL, thumbnail, waveformData and isFileMissing are filled at run time only.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "model/model_enums.h"
#include "model/settings_records.h"

namespace kestio {

struct SlotData {
    std::string name;
    std::optional<std::vector<std::uint8_t>> bookmarkData;
    std::optional<std::filesystem::path> videoURL;  // run time only
    MediaType mediaType = MediaType::video;
    double stillDuration = 5.0;  // seconds
    PostRollMode postRollMode = PostRollMode::freeze;
    std::optional<JumpTarget> jumpTarget;
    std::optional<double> inPoint;   // seconds
    std::optional<double> outPoint;  // seconds
    TransitionMode transitionMode = TransitionMode::cut;
    double dissolveDuration = 1.0;  // seconds
    double playRate = 1.0;
    AudioSettings audioSettings;
    EqualizerSettings equalizer;
    ColorSettings colorSettings;
    std::optional<std::vector<MIDINoteBinding>> midiBindings;
    std::optional<MIDINoteBinding> midiOutputBinding;
    GeometrySettings geometry;
    std::optional<ClipInfo> clipInfo;
    std::optional<std::string> thumbnailFileName;        // bare name inside the "thumbnails" folder
    std::optional<std::vector<std::uint8_t>> thumbnail;  // run time only: PNG bytes
    std::optional<std::vector<float>> waveformData;      // run time only
    bool isFileMissing = false;                          // run time only
    std::optional<std::string> shortcutKey;
    bool standbyAtFirstFrame = false;

    // Appends the binding unless an equal one is already there; an absent list becomes a list.
    void addMIDIBinding(std::int64_t channel, std::int64_t note);

    // Slot equality as every list and document comparison uses it: shortcutKey and
    // standbyAtFirstFrame take no part, waveforms compare by presence only and thumbnails by
    // presence and byte count only.
    bool operator==(const SlotData& other) const;
};

}  // namespace kestio
