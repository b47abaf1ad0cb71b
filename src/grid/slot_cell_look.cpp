#include "grid/slot_cell_look.h"

#include <array>
#include <cmath>
#include <cstdio>

#include "show/slot_display_name.h"
#include "ui/palette.h"

namespace kestio::grid {

namespace {

namespace palette = ui::palette;

QColor backgroundOf(const SlotCellInputs& in) {
    if (in.isSelected) {
        return palette::white(0.2);
    }
    if (in.isJumpTarget) {
        return palette::white(0.3);
    }
    if (in.isCurrent) {
        return palette::white(0.45);
    }
    if (in.slot.isFileMissing) {
        return QColor::fromRgbF(0.3f, 0.16f, 0.1f);
    }
    return isLoaded(in.slot) ? palette::white(0.28) : palette::white(0.18);
}

// The state layers, bottom to top. A selected cell hides every state frame but the armed-learn
// one; on air is drawn over the cursor.
void addStateLayers(const SlotCellInputs& in, SlotCellLook& look) {
    const bool s = in.isSelected;
    if (in.slot.isFileMissing && !s) {
        look.frames.push_back({palette::orange(), 3, 0});
        look.badges.push_back(CellBadge::missing);
    }
    if (in.isCurrent && !s) {
        look.frames.push_back({palette::red(), 4, 0});
    }
    if (in.isCursor && !in.isCurrent && !s) {
        look.frames.push_back({palette::blue(), 4, 0});
    }
    if (in.isCurrent && in.isCursor && !s) {
        look.frames.push_back({palette::red(), 4, 0});
        look.frames.push_back({palette::withOpacity(palette::blue(), 0.7), 1.5, 4});
    }
    if (s) {
        look.selectionFill = true;
        look.frames.push_back({palette::blue(), 4, 0});
        look.badges.push_back(CellBadge::selected);
    }
    if (in.isJumpHighlight && !s && !in.isReplaceMode) {
        look.frames.push_back({palette::orange(), 2, 0});
    }
    if (in.isReplaceMode && !s) {
        look.frames.push_back({palette::cyan(), 2, 0});
    }
    if (in.isJumpTarget && !s) {
        look.frames.push_back({palette::orange(), 3, 0});
        look.badges.push_back(CellBadge::jump);
    }
    if (in.midiLearnHighlight && !s && !in.isMIDIArmed) {
        look.frames.push_back({palette::green(), 2, 0});
    }
    if (in.isMIDIArmed) {
        look.frames.push_back({palette::green(), 4, 0});
        look.badges.push_back(CellBadge::listening);
    }
    const auto& bindings = in.slot.midiBindings;
    if (in.showMIDILabel && bindings && !bindings->empty()) {
        for (std::size_t i = 0; i < bindings->size() && i < 3; ++i) {
            look.midiLabels.push_back(midiBindingLabel((*bindings)[i]));
        }
        if (bindings->size() > 3) {
            look.midiMore = "+" + std::to_string(bindings->size() - 3);
        }
    }
}

}  // namespace

bool isLoaded(const SlotData& slot) {
    return slot.videoURL.has_value();
}

SlotCellLook cellLook(const SlotCellInputs& in) {
    SlotCellLook look;
    look.background = backgroundOf(in);
    look.thumbnail = in.thumbnail;
    look.language = in.language;
    const bool loaded = isLoaded(in.slot);
    if (in.slot.clipInfo && std::isfinite(in.slot.clipInfo->duration) &&
        in.slot.clipInfo->duration > 0) {
        look.durationText = formatTimecode(in.slot.clipInfo->duration, in.slot.clipInfo->fps);
    }
    if (loaded && in.slot.mediaType != MediaType::audio) {
        look.postRollIcon = in.slot.postRollMode;
    }
    look.loadedHeader = loaded;
    look.keyText = slotKeyText(in.index);
    if (loaded) {
        look.name = slotDisplayName(in.slot.name);
        look.transitionIcon = in.slot.transitionMode;
    }
    addStateLayers(in, look);
    return look;
}

std::string midiNoteName(std::int64_t note) {
    static constexpr std::array<const char*, 12> kNames = {"C",  "C#", "D",  "D#", "E",  "F",
                                                           "F#", "G",  "G#", "A",  "A#", "B"};
    if (note < 0 || note > 127) {
        return "?";
    }
    return kNames[static_cast<std::size_t>(note % 12)];
}

std::string formatTimecode(double duration, double fps) {
    // Beyond about 31 years the counters would leave the integer range; such a clip is shown
    // at that length.
    constexpr double kLongest = 1.0e9;
    if (!std::isfinite(duration) || duration < 0) {
        duration = 0;
    }
    duration = std::min(duration, kLongest);
    if (!std::isfinite(fps) || fps < 1) {
        fps = 1;
    }
    fps = std::min(fps, 1.0e6);
    const long long n = std::max(std::llround(fps), 1LL);
    const long long s = static_cast<long long>(duration);
    const long long frames =
        std::llround((duration - static_cast<double>(s)) * static_cast<double>(n));
    const long long minutes = (s % 3600) / 60;
    const long long seconds = s % 60;
    char text[64];
    std::snprintf(text, sizeof text, "%02lld:%02lld;%02lld", minutes, seconds, frames);
    return text;
}

std::string slotKeyText(int index) {
    static constexpr std::array<const char*, 4> kRows = {"1234567890", "QWERTYUIOP", "ASDFGHJKL;",
                                                         "ZXCVBNM,./"};
    if (index < 0 || index >= 40) {
        return {};
    }
    return std::string(1, kRows[static_cast<std::size_t>(index / 10)][index % 10]);
}

std::string midiBindingLabel(const MIDINoteBinding& binding) {
    char text[96];
    std::snprintf(text, sizeof text, "Ch.%02lld %s(%lld)", static_cast<long long>(binding.channel),
                  midiNoteName(binding.note).c_str(), static_cast<long long>(binding.note));
    return text;
}

}  // namespace kestio::grid
