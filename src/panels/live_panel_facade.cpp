#include "panels/live_panel_facade.h"

#include "show/midi_routing.h"
#include "show/show_controller.h"
#include "show/show_playback.h"

namespace kestio::panels {

LivePanelFacade::LivePanelFacade(ShowController& show) : show_(show) {}

const ProjectData& LivePanelFacade::project() const {
    return show_.project();
}
platform::Published<std::uint64_t>& LivePanelFacade::projectRevision() {
    return show_.projectRevision;
}
platform::Published<bool>& LivePanelFacade::isMIDILearnMode() {
    return show_.isMIDILearnMode;
}
platform::Published<std::optional<MIDILearnTarget>>& LivePanelFacade::midiLearnArmedTarget() {
    return show_.midiLearnArmedTarget;
}
platform::Published<bool>& LivePanelFacade::isMeterPeak() {
    return show_.isMeterPeak;
}
platform::Published<bool>& LivePanelFacade::isSettingJumpTarget() {
    return show_.isSettingJumpTarget;
}
platform::Published<std::optional<int>>& LivePanelFacade::jumpSourceBank() {
    return show_.jumpSourceBank;
}
platform::Published<std::optional<int>>& LivePanelFacade::jumpSourceSlot() {
    return show_.jumpSourceSlot;
}
double LivePanelFacade::currentFrameRate() const {
    return show_.currentFrameRate();
}

bool LivePanelFacade::editSlot(int bank, int slot, const std::function<void(SlotData&)>& edit) {
    return show_.editSlot(bank, slot, edit);
}

void LivePanelFacade::markUnsaved() {
    show_.hasUnsavedChanges = true;
}
void LivePanelFacade::armMIDILearn(const std::string& control) {
    show_.midiRouting().armMIDILearn(control);
}
void LivePanelFacade::playSlot(int bank, int slot) {
    show_.playSlot(bank, slot);
}

ShowPlayback& LivePanelFacade::playback() {
    return show_.playback();
}

platform::Published<bool>& LivePanelFacade::editLocked() {
    return show_.editLocked;
}
platform::Published<bool>& LivePanelFacade::geoScaleLocked() {
    return show_.geoScaleLocked;
}
platform::Published<int>& LivePanelFacade::eqPanelTab() {
    return show_.eqPanelTab;
}
platform::Published<std::optional<std::string>>& LivePanelFacade::colorSliderEditingLabel() {
    return show_.colorSliderEditingLabel;
}
platform::Published<std::string>& LivePanelFacade::colorSliderInputText() {
    return show_.colorSliderInputText;
}
std::uint64_t LivePanelFacade::projectGeneration() const {
    return show_.projectGeneration();
}
std::optional<std::filesystem::path> LivePanelFacade::currentProjectURL() const {
    return show_.currentProjectURL.get();
}
std::optional<std::filesystem::path> LivePanelFacade::resolveSlotURL(int bank, int slot) {
    return show_.resolveSlotURL(bank, slot);
}

}  // namespace kestio::panels
