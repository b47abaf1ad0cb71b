#pragma once

// The small value records that make up a slot and a project: clip facts, picture and sound
// adjustments, output format and display, jump target and MIDI assignments. Each default member
// value is the value of a slot or project made afresh.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "model/model_enums.h"
#include "model/reference_date.h"

namespace kestio {

// Facts probed from a clip's media.
struct ClipInfo {
    std::string codec;
    std::string resolution;
    double fps = 0;
    std::int64_t bitRate = 0;
    double duration = 0;
    std::int64_t channels = 0;
    double sampleRate = 0;
    std::int64_t audioBitDepth = 0;
    std::string audioCodec;
    std::optional<ReferenceDate> sourceModifiedAt;

    bool operator==(const ClipInfo&) const = default;
};

// Colour correction of a slot; the defaults are the identity.
struct ColorSettings {
    float brightness = 0;
    float contrast = 1;
    float saturation = 1;
    float hue = 0;  // degrees
    float gamma = 1;
    float redGain = 1;
    float greenGain = 1;
    float blueGain = 1;

    bool operator==(const ColorSettings&) const = default;
};

// Six-band equaliser, one gain in dB per band; 0 is flat.
struct EqualizerSettings {
    float hz80 = 0;
    float hz315 = 0;
    float hz800 = 0;
    float khz1_25 = 0;
    float khz2_5 = 0;
    float khz3_2 = 0;

    bool operator==(const EqualizerSettings&) const = default;
};

// Sound level of a slot.
struct AudioSettings {
    float masterLevel = 0;  // dB
    bool isMuted = false;
    std::vector<float> channelLevels = std::vector<float>(8, 0.0f);  // as stored, any length
    std::int64_t activeChannels = 2;

    bool operator==(const AudioSettings&) const = default;
};

// Placement of a slot's picture on the output canvas.
struct GeometrySettings {
    GeometryMode mode = GeometryMode::fitToWindow;
    double posX = 960;
    double posY = 540;
    double scaleX = 100;  // percent
    double scaleY = 100;  // percent

    bool operator==(const GeometrySettings&) const = default;
};

// The project's output canvas format.
struct OutputSettings {
    OutputResolution resolution = OutputResolution::hd1080p;
    OutputFrameRate frameRate = OutputFrameRate::fps29_97;

    bool operator==(const OutputSettings&) const = default;
};

// The output display chosen for the show.
struct ExternalMonitorSettings {
    bool isEnabled = false;
    std::int64_t screenIndex = 0;
    std::string screenName;
    double width = 1920;
    double height = 1080;

    bool operator==(const ExternalMonitorSettings&) const = default;
};

// A bank index and a slot index, both counted from 0.
struct JumpTarget {
    std::int64_t bank = 0;
    std::int64_t slot = 0;

    bool operator==(const JumpTarget&) const = default;
};

// A MIDI channel (1 to 16) and note (0 to 127), stored as read.
struct MIDINoteBinding {
    std::int64_t channel = 0;
    std::int64_t note = 0;

    bool operator==(const MIDINoteBinding&) const = default;
};

// A MIDI note assigned to a show control: "bank:<index from 0>", "play", "pause", "stop", "mute".
struct MIDIControlAssignment {
    std::string target;
    std::int64_t channel = 0;
    std::int64_t note = 0;

    bool operator==(const MIDIControlAssignment&) const = default;
};

}  // namespace kestio

// Feeds the channel and then the note into the hash.
template <>
struct std::hash<kestio::MIDINoteBinding> {
    std::size_t operator()(const kestio::MIDINoteBinding& binding) const noexcept;
};
