#pragma once

// What one cell of the slot grid shows, decided without painting: its inputs as a value, and
// the look they give (background, frames, badges, texts, icons) as a value. Two looks that
// compare equal paint the same pixels, so a cell repaints exactly when its look changes.

#include <QColor>
#include <optional>
#include <string>
#include <vector>

#include "model/app_language.h"
#include "model/slot_data.h"
#include "model/thumbnail_store.h"

namespace kestio::grid {

// The inputs of one cell, derived from the show state (see cellInputs()).
struct SlotCellInputs {
    int bank = 0;
    int index = 0;         // slot index within the bank; selects the key tag
    int globalNumber = 0;  // the slot's number across banks
    SlotData slot;
    bool isCurrent = false;        // on air
    bool isJumpHighlight = false;  // a jump target is being picked or a replacement is pending
    bool isJumpTarget = false;     // the jump target of the slot on air
    bool isReplaceMode = false;    // a replacement is pending
    bool isSelected = false;       // selected in multiple-select mode
    bool isCursor = false;
    bool inSelectMode = false;
    bool editLocked = false;
    AppLanguage language = AppLanguage::ja;
    bool hasClipboard = false;
    ThumbnailStore::Image thumbnail;  // from the thumbnail store; the same object while unchanged
    bool midiLearnHighlight = false;  // MIDI learn mode is on
    bool isMIDIArmed = false;         // MIDI learn is armed for this slot
    bool showMIDILabel = false;
};

// A rounded frame stroked along the cell's edge (half its width lies outside and is cut off),
// or inset by `inset` on every side.
struct CellFrame {
    QColor color;
    double width = 0;
    double inset = 0;
    bool operator==(const CellFrame&) const = default;
};

enum class CellBadge {
    missing,    // warning triangle, top left
    selected,   // check mark in a circle, top left
    jump,       // "JUMP" on orange, top right
    listening,  // "LISTENING" on green, bottom centre
};

struct SlotCellLook {
    QColor background;
    ThumbnailStore::Image thumbnail;  // stretched over the cell when set
    std::optional<std::string> durationText;
    std::optional<PostRollMode> postRollIcon;
    // A loaded slot's header: a dark strip with the key tag, the name and the transition icon.
    // Otherwise only the key tag, at the bottom left.
    bool loadedHeader = false;
    std::string keyText;
    std::string name;
    TransitionMode transitionIcon = TransitionMode::cut;
    AppLanguage language = AppLanguage::ja;  // the font family of the name
    bool selectionFill = false;              // blue at 0.35 over the whole cell
    std::vector<CellFrame> frames;           // bottom to top
    std::vector<CellBadge> badges;
    std::vector<std::string> midiLabels;  // at most three
    std::optional<std::string> midiMore;  // "+n" for the bindings not shown

    bool operator==(const SlotCellLook&) const = default;
};

SlotCellLook cellLook(const SlotCellInputs& inputs);

// A slot counts as loaded when its file location is set.
bool isLoaded(const SlotData& slot);

// "C", "C#", ... "B" for a MIDI note (no octave); "?" outside 0 to 127.
std::string midiNoteName(std::int64_t note);

// The duration badge: "MM:SS;FF" (minutes within the hour, seconds, frames of the fraction at
// the rate rounded to whole frames, at least 1). Values that are not finite or are out of range
// are clamped first: a rate that is not finite or below 1 counts as 1, a duration that is not
// finite or negative as 0.
std::string formatTimecode(double duration, double fps);

// The slot key of a slot index: "1".."0", "Q".."P", "A"..";", "Z".."/"; empty from 40 on.
std::string slotKeyText(int index);

// The text of one MIDI binding label: "Ch.01 C(60)".
std::string midiBindingLabel(const MIDINoteBinding& binding);

}  // namespace kestio::grid
