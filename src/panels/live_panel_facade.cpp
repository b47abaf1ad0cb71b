#include "panels/live_panel_facade.h"

#include "show/midi_routing.h"
#include "show/show_controller.h"
#include "show/show_playback.h"

namespace kestio::panels {

LivePanelFacade::LivePanelFacade(ShowController& show) : show_(show), playback_(show.playback()) {}

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

platform::Published<std::optional<int>>& LivePanelFacade::currentBankIndex() {
    return playback_.currentBankIndex();
}
platform::Published<std::optional<int>>& LivePanelFacade::currentSlotIndex() {
    return playback_.currentSlotIndex();
}
platform::Published<double>& LivePanelFacade::currentTime() {
    return playback_.currentTime();
}
platform::Published<double>& LivePanelFacade::duration() {
    return playback_.duration();
}
platform::Published<std::string>& LivePanelFacade::selectedClipName() {
    return playback_.selectedClipName();
}
platform::Published<bool>& LivePanelFacade::isMuted() {
    return playback_.isMuted();
}
platform::Published<std::vector<float>>& LivePanelFacade::vuLevels() {
    return playback_.vuLevels();
}
platform::Published<int>& LivePanelFacade::vuChannelCount() {
    return playback_.vuChannelCount();
}
platform::Published<std::string>& LivePanelFacade::outputDeviceName() {
    return playback_.outputDeviceName();
}
bool LivePanelFacade::isLooping() const {
    return playback_.isLooping();
}
bool LivePanelFacade::isShowingPlayerStopped() const {
    return playback_.isShowingPlayerStopped();
}
void LivePanelFacade::handlePostRoll(PostRollMode mode) {
    playback_.handlePostRoll(mode);
}
void LivePanelFacade::releaseLoop(PostRollMode postRoll) {
    playback_.releaseLoop(postRoll);
}
void LivePanelFacade::toggleMute(const std::optional<AudioSettings>& onAirAudio) {
    playback_.toggleMute(onAirAudio);
}
void LivePanelFacade::setMeterPeak(bool peak) {
    playback_.setMeterPeak(peak);
}
std::shared_ptr<platform::Layer> LivePanelFacade::programLayer() {
    return playback_.programLayer();
}
void LivePanelFacade::layoutProgram() {
    playback_.layoutProgram();
}

}  // namespace kestio::panels
