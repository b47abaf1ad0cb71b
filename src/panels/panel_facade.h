#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "model/model_enums.h"
#include "model/project_data.h"
#include "model/settings_records.h"
#include "model/slot_data.h"
#include "platform/runloop/published.h"
#include "show/show_controller.h"
#include "show/show_playback.h"

namespace kestio::panels {

// What the player, settings panel and audio panels read and call of the show controller, in one
// narrow interface, with the show's adapter to playback for what is on air: the application's
// implementation forwards to the show controller and its playback; panel tests give a recording
// fake. Main thread only.
//
// The panels edit the slot loaded in the player (playback's published bank and slot
// indices), never the grid's cursor slot. An edit writes one field (editSlot), then marks the
// project unsaved. The panels hand nothing to the output themselves: the show controller's
// slot edit passes what changed on the slot on air to playback.
class PanelFacade {
  public:
    virtual ~PanelFacade() = default;

    // ---- Show state ----
    virtual const ProjectData& project() const = 0;
    // Bumped after every change of the project.
    virtual platform::Published<std::uint64_t>& projectRevision() = 0;
    virtual platform::Published<bool>& isMIDILearnMode() = 0;
    virtual platform::Published<std::optional<MIDILearnTarget>>& midiLearnArmedTarget() = 0;
    // The meter mode the audio section shows (peak at start, never saved).
    virtual platform::Published<bool>& isMeterPeak() = 0;
    // The jump-target pick started from the player panel.
    virtual platform::Published<bool>& isSettingJumpTarget() = 0;
    virtual platform::Published<std::optional<int>>& jumpSourceBank() = 0;
    virtual platform::Published<std::optional<int>>& jumpSourceSlot() = 0;
    // The loaded clip's frame rate when it has a positive one, else the project's output rate.
    virtual double currentFrameRate() const = 0;

    // Runs `edit` on the slot at (bank, slot) through the show controller's one route of a slot
    // edit and tells the views the project changed; returns false, writing nothing, when the
    // indices address no slot of the project.
    virtual bool editSlot(int bank, int slot, const std::function<void(SlotData&)>& edit) = 0;
    virtual void markUnsaved() = 0;
    virtual void armMIDILearn(const std::string& control) = 0;
    // Plays the slot from its start (as a click on its cell does).
    virtual void playSlot(int bank, int slot) = 0;

    // ---- Playback ----
    // The show's one adapter to playback: what is on air, its position and meters, the program
    // picture, and the transport and post-roll the panels drive.
    virtual ShowPlayback& playback() = 0;

    // ---- Picture and sound settings (EQ and colour, geometry) ----
    // The edit lock: while on, no EQ, colour or geometry edit writes anything.
    virtual platform::Published<bool>& editLocked() = 0;
    // The geometry scales' ratio lock (on at start, never saved).
    virtual platform::Published<bool>& geoScaleLocked() = 0;
    // The EQ and colour panel's tab (0: equaliser) and its colour value entry: the label of the
    // row whose entry is open, and the entry's text.
    virtual platform::Published<int>& eqPanelTab() = 0;
    virtual platform::Published<std::optional<std::string>>& colorSliderEditingLabel() = 0;
    virtual platform::Published<std::string>& colorSliderInputText() = 0;

    // ---- Thumbnail capture ----
    // Advanced whenever the project is replaced (opened, closed).
    virtual std::uint64_t projectGeneration() const = 0;
    // The open package; none for a project never saved.
    virtual std::optional<std::filesystem::path> currentProjectURL() const = 0;
    // The slot's media file, none when it cannot be reached.
    virtual std::optional<std::filesystem::path> resolveSlotURL(int bank, int slot) = 0;
};

// The slot loaded in the player as the panels edit it: its indices and record.
struct LoadedSlotRef {
    int bank = 0;
    int slot = 0;
    const SlotData* data = nullptr;
};

// The loaded slot; none when either index is absent or the indices address no slot of the
// project (a project replaced while a clip stayed loaded is treated as nothing loaded).
std::optional<LoadedSlotRef> loadedSlot(PanelFacade& facade);

}  // namespace kestio::panels
