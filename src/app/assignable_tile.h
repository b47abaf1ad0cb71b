#pragma once

#include <optional>
#include <string>
#include <vector>

#include <QRectF>

#include "app/panel_menu.h"
#include "model/settings_records.h"

class QPainter;

namespace kestio {
class ShowController;
}

namespace kestio::app {

// The MIDI overlay of a control that a note can be assigned to (a bank button, STOP, PLAY,
// Pause, MUTE), as plain values: the learn outline (dashed, or solid with the LISTENING badge
// when armed) and up to three assignment labels with "+N" for the rest.
struct TileFace {
    bool learnOutline = false;  // learn mode is on
    bool armed = false;         // this control is the armed learn target
    std::vector<std::string> labels;
    std::optional<std::string> more;  // "+N"
    bool lifted = false;              // labels stand 12 points higher, clear of the badge

    bool operator==(const TileFace&) const = default;
};

// "Ch.01 C(60)": the channel padded to two digits, the note's name and its number.
std::string assignmentLabel(const MIDIControlAssignment& assignment);

TileFace tileFace(bool learnMode, bool showLabels, bool armed,
                  const std::vector<MIDIControlAssignment>& assignments);
// The face of the control with `target` ("bank:<index>", "play", "pause", "stop", "mute").
TileFace tileFace(const ShowController& show, const std::string& target);
// True when learn is armed for exactly this control target.
bool isArmed(const ShowController& show, const std::string& target);

// How far up from the control's bottom the face's labels reach (the inset and the lift for the
// badge included); 0 without labels. What the control shows of its own belongs above that.
double labelsHeight(const TileFace& face);

// Paints the overlay over `control` (the control's rectangle); the outline is centred on the
// rectangle's edge, so the painter must allow 1.5 points beyond it.
void paintAssignableTile(QPainter& painter, const QRectF& control, const TileFace& face);

// The control's context-menu entry in learn mode: "Clear MIDI Assignment", destructive,
// disabled without an assignment; clearing marks the project unsaved. None outside learn mode.
std::optional<PanelMenuEntry> clearAssignmentEntry(ShowController& show, const std::string& target);

}  // namespace kestio::app
