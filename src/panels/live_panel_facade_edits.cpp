// The picture and sound settings, transport and thumbnail members of the panels' view of the
// show and playback controllers.

#include "panels/live_panel_facade.h"
#include "show/show_controller.h"
#include "show/show_playback.h"

namespace kestio::panels {

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
void LivePanelFacade::seek(double seconds) {
    playback_.seek(seconds);
}
void LivePanelFacade::skip(int frames, double frameRate) {
    playback_.skip(frames, frameRate);
}
void LivePanelFacade::pause() {
    playback_.pause();
}
void LivePanelFacade::resume() {
    playback_.resume();
}
void LivePanelFacade::setSeeking(bool seeking) {
    playback_.setSeeking(seeking);
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
