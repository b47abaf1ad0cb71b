#pragma once

// The grid toolbar's two faces as values: which controls stand in which order, their texts,
// colours, enabled states and tooltips, from the show state alone.

#include <QColor>
#include <QFont>
#include <set>
#include <string>
#include <vector>

#include "model/app_language.h"
#include "model/project_data.h"
#include "ui/symbols.h"

namespace kestio {
class ShowController;
}

namespace kestio::grid {

enum class ToolbarControl {
    multipleSelect,
    midiLearn,
    midiList,
    midiLabels,  // switch group: show MIDI assignments on the cells
    followJump,  // switch group
    midiStatus,  // the IN and OUT badges
    countText,
    selectAll,  // "Select All" or "Deselect All"
    batchNextGo,
    batchFreeze,
    copy,
    remove,
    cancel,
    separator,
    spacer,
};

struct ToolbarItem {
    ToolbarControl control = ToolbarControl::spacer;
    std::string text;
    ui::Symbol symbol = ui::Symbol::none;
    QColor textColor;
    QColor background;
    double fontSize = 11;
    QFont::Weight weight = QFont::Normal;
    bool monospaced = false;
    bool enabled = true;
    bool on = false;  // a switch group's switch
    std::string tooltip;

    bool operator==(const ToolbarItem&) const = default;
};

struct ToolbarState {
    bool selectMode = false;
    bool editLocked = false;
    bool learnMode = false;
    bool showMIDILabels = false;
    bool followJump = true;
    int selectedCount = 0;
    int bankSlotCount = 0;
    std::string selectionTotal;  // "mm:ss" or "h:mm:ss"
    AppLanguage language = AppLanguage::ja;
};

struct ToolbarFace {
    QColor barBackground;
    std::vector<ToolbarItem> items;  // left to right
};

ToolbarFace toolbarFace(const ToolbarState& state);
ToolbarState toolbarState(const ShowController& show, AppLanguage language);

// A duration rounded to whole seconds (halves away from zero): "mm:ss" below an hour, else
// "h:mm:ss". Values that are not finite or are negative count as 0.
std::string formatDuration(double seconds);
// The total play time of the selected slots of the bank that exist and have clip facts.
std::string selectionTotal(const ProjectData& project, int bank, const std::set<int>& selection);

}  // namespace kestio::grid
