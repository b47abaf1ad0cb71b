#include "grid/midi_assignments_panel.h"

#include <QScreen>
#include <QWidget>
#include <algorithm>

#include "control/midi_list_panel_controller.h"
#include "control/midi_list_view.h"
#include "platform/ui/window_fit.h"
#include "show/midi_routing.h"
#include "show/show_controller.h"
#include "show/slot_edits.h"

namespace kestio::grid {

void MIDIAssignmentsPanel::toggle() {
    if (panels_.isPanelVisible()) {
        panels_.panel()->hide();
        return;
    }
    panels_.store().update(show_.project());
    ShowController& show = show_;
    panels_.installOperations(
        {
            .clearSlot =
                [this](int bank, int slot, const MIDINoteBinding& binding) {
                    clearSlotMIDIBinding(bank, slot, binding);
                },
            .clearControl =
                [&show](const std::string& target) {
                    show.midiRouting().clearControlAssignment(target);
                },
            .editOutput =
                [&show](int bank, int slot) {
                    show.midiRouting().showMIDIOutputAssignDialog(bank, slot);
                },
            .clearOutput = [this](int bank, int slot) { clearSlotMIDIOutput(bank, slot); },
            .dedup = [&show] { show.midiRouting().deduplicateMIDIAssignments(); },
        },
        [&show]() -> const ProjectData& { return show.project(); });

    auto panel = MIDIListView::createPanel(panels_.store());
    panel->resize(kWidth, kHeight);
    // Centred on the screen the operator works on, whole on it.
    if (QScreen* screen = platform::activeWindowScreen()) {
        platform::placeFittedCentredOnceFramed(*panel, *screen, QSize(kWidth, kHeight));
    }
    panel->show();
    panel->raise();
    panels_.setPanel(std::move(panel));
}

void MIDIAssignmentsPanel::clearSlotMIDIBinding(int bank, int slot,
                                                const MIDINoteBinding& binding) {
    if (!addressesSlot(show_.project(), bank, slot)) {
        return;
    }
    show_.editProject(
        [&](ProjectData& project) {
            auto& bindings = project.banks[static_cast<std::size_t>(bank)]
                                 .slots[static_cast<std::size_t>(slot)]
                                 .midiBindings;
            if (bindings) {
                std::erase(*bindings, binding);
            }
        },
        true);
}

void MIDIAssignmentsPanel::clearSlotMIDIOutput(int bank, int slot) {
    if (!addressesSlot(show_.project(), bank, slot)) {
        return;
    }
    show_.editProject(
        [&](ProjectData& project) {
            project.banks[static_cast<std::size_t>(bank)]
                .slots[static_cast<std::size_t>(slot)]
                .midiOutputBinding.reset();
        },
        true);
}

}  // namespace kestio::grid
