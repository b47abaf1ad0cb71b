#include "show/show_controller.h"

#include "control/midi_input_controller.h"
#include "show/show_playback.h"

namespace kestio {

struct ShowController::ImportJob {};

ShowController::ShowController(ShowServices services)
    : loop_(services.loop),
      playback_(services.playback),
      importer_(services.importer),
      midi_(services.midi),
      midiOut_(services.midiOut),
      keyboard_(services.keyboard),
      dialogs_(services.dialogs),
      bookmarks_(services.bookmarks),
      defaults_(services.defaults),
      projectManager_(services.projectManager),
      recentProjects_(services.recentProjects),
      midiList_(services.midiList),
      project_(kDefaultRows, kDefaultColumns),
      lifetime_(std::make_shared<ShowController*>(this)) {}

ShowController::~ShowController() = default;

// TODO: the bodies below.
double ShowController::currentFrameRate() const {
    return 29.97;
}
std::optional<double> ShowController::nowPlayingInPoint() const {
    return std::nullopt;
}
std::optional<double> ShowController::nowPlayingOutPoint() const {
    return std::nullopt;
}
std::optional<PostRollMode> ShowController::nowPlayingPostRollMode() const {
    return std::nullopt;
}
std::optional<TransitionMode> ShowController::nowPlayingTransitionMode() const {
    return std::nullopt;
}
platform::SizeF ShowController::canvasSize() const {
    return {1920, 1080};
}
bool ShowController::isOnAir(int, int) const {
    return false;
}
void ShowController::playSlot(int, int) {}
std::optional<std::filesystem::path> ShowController::resolveSlotURL(int, int) {
    return std::nullopt;
}
void ShowController::preloadNextGo(int, int) {}
void ShowController::standbySlot(int, int) {}
void ShowController::requestPlay(int, int) {}
void ShowController::setupKeyboardShortcuts() {}
void ShowController::keyPlaySlot(int) {}
void ShowController::moveCursor(int, int) {}
void ShowController::enterCursorSlot() {}
void ShowController::standbyCursorSlot() {}
void ShowController::selectBank(int) {}
void ShowController::pausePlayback() {}
void ShowController::stopPlayback() {}
void ShowController::cutGo() {}
void ShowController::showHelpWindow() {}
void ShowController::setupMIDIInput() {}
void ShowController::handleMIDINoteOn(std::uint8_t, std::uint8_t, std::uint8_t) {}
void ShowController::performMIDIControlAction(const std::string&) {}
void ShowController::handleMIDIControlChange(std::uint8_t, std::uint8_t, std::uint8_t) {}
void ShowController::toggleMIDILearnMode() {}
void ShowController::armMIDILearn(int, int) {}
void ShowController::armMIDILearn(const std::string&) {}
void ShowController::learnSlotBinding(int, int, int, int) {}
void ShowController::learnControlAssignment(int, int, const std::string&) {}
void ShowController::removeMIDIBinding(std::int64_t, std::int64_t) {}
std::vector<MIDIControlAssignment> ShowController::controlAssignments(const std::string&) const {
    return {};
}
std::optional<MIDIControlAssignment> ShowController::firstControlAssignment(
    const std::string&) const {
    return std::nullopt;
}
void ShowController::clearControlAssignment(const std::string&) {}
void ShowController::deduplicateMIDIAssignments() {}
void ShowController::handleDrop(const std::vector<std::filesystem::path>&, int, int) {}
void ShowController::importFiles(const std::vector<std::filesystem::path>&, int, int) {}
void ShowController::waitForActiveDisplay(double, std::function<void(bool)> done) {
    done(false);
}
void ShowController::deleteThumbnailFile(int, int) {}

SlotData* ShowController::slotAt(int, int) {
    return nullptr;
}
const SlotData* ShowController::slotAt(int, int) const {
    return nullptr;
}
void ShowController::projectDidChange() {}
void ShowController::replaceProject(ProjectData project) {
    project_ = std::move(project);
}
void ShowController::setUnsaved() {
    hasUnsavedChanges = true;
}

}  // namespace kestio
