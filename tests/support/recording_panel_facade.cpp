#include "support/recording_panel_facade.h"

#include <sstream>

namespace kestio::test {

namespace {
std::string number(double value) {
    std::ostringstream out;
    out.imbue(std::locale::classic());
    out << value;
    return out.str();
}
}  // namespace

RecordingPanelFacade::RecordingPanelFacade(int banks, int slotsPerBank) {
    projectData.banks.clear();
    for (int b = 0; b < banks; ++b) {
        BankData bank;
        bank.name = "BANK " + std::to_string(b + 1);
        bank.slots.resize(static_cast<std::size_t>(slotsPerBank));
        projectData.banks.push_back(std::move(bank));
    }
}

void RecordingPanelFacade::setLoaded(std::optional<int> bank, std::optional<int> slot) {
    playback_.bank = bank;
    playback_.slot = slot;
}

SlotData& RecordingPanelFacade::slot(int bank, int index) {
    return projectData.banks.at(static_cast<std::size_t>(bank))
        .slots.at(static_cast<std::size_t>(index));
}

bool RecordingPanelFacade::editSlot(int bank, int slot,
                                    const std::function<void(SlotData&)>& edit) {
    if (bank < 0 || slot < 0 || static_cast<std::size_t>(bank) >= projectData.banks.size() ||
        static_cast<std::size_t>(slot) >=
            projectData.banks[static_cast<std::size_t>(bank)].slots.size()) {
        calls.push_back("refused edit " + std::to_string(bank) + " " + std::to_string(slot));
        return false;
    }
    edit(this->slot(bank, slot));
    calls.push_back("edit " + std::to_string(bank) + " " + std::to_string(slot));
    revision_ = revision_.get() + 1;
    return true;
}

void RecordingPanelFacade::markUnsaved() {
    unsaved = true;
    calls.emplace_back("unsaved");
}

void RecordingPanelFacade::armMIDILearn(const std::string& control) {
    calls.push_back("arm " + control);
    if (learnMode_.get()) {
        armed_ = MIDILearnTarget::forControl(control);
    }
}

void RecordingPanelFacade::playSlot(int bank, int slot) {
    calls.push_back("playSlot " + std::to_string(bank) + " " + std::to_string(slot));
}

void RecordingPanelFacade::Playback::play(int bank, int slot, const std::filesystem::path&,
                                          const SlotData&, platform::SizeF) {
    record("play " + std::to_string(bank) + " " + std::to_string(slot));
}

void RecordingPanelFacade::Playback::preloadNext(int bank, int slot, const std::filesystem::path&,
                                                 const SlotData&) {
    record("preloadNext " + std::to_string(bank) + " " + std::to_string(slot));
}

void RecordingPanelFacade::Playback::standby(int bank, int slot, const std::filesystem::path&,
                                             const SlotData&, platform::SizeF) {
    record("standby " + std::to_string(bank) + " " + std::to_string(slot));
}

void RecordingPanelFacade::Playback::log(const std::string& message) {
    record("log " + message);
}

void RecordingPanelFacade::Playback::setLogFileURL(std::optional<std::filesystem::path>) {
    record("setLogFileURL");
}

void RecordingPanelFacade::Playback::reopenLogFile() {
    record("reopenLogFile");
}

void RecordingPanelFacade::Playback::handlePostRoll(PostRollMode mode) {
    record("postRoll " + std::string(rawValue(mode)));
}

void RecordingPanelFacade::Playback::pause() {
    record("pause");
}

void RecordingPanelFacade::Playback::resume() {
    record("resume");
}

void RecordingPanelFacade::Playback::toggleMute(const std::optional<AudioSettings>& onAirAudio) {
    record(onAirAudio ? "toggleMute " + std::string(onAirAudio->isMuted ? "1 " : "0 ") +
                            number(onAirAudio->masterLevel)
                      : std::string("toggleMute none"));
}

void RecordingPanelFacade::Playback::applySlotVolume(bool muted, float gainDB) {
    record("volume " + std::string(muted ? "1 " : "0 ") + number(gainDB));
}

void RecordingPanelFacade::Playback::applyOutPoint(std::optional<double> outPoint) {
    record("out point " + (outPoint ? number(*outPoint) : std::string("none")));
}

void RecordingPanelFacade::Playback::setPlaybackRate(double rate) {
    record("rate " + number(rate));
}

void RecordingPanelFacade::Playback::updateGeometry(const GeometrySettings&) {
    record("geometry");
}

void RecordingPanelFacade::Playback::applyColorSettings(const ColorSettings&) {
    record("color");
}

void RecordingPanelFacade::Playback::applyEqualizerToShowingSlot(const EqualizerSettings&) {
    record("equalizer");
}

void RecordingPanelFacade::Playback::releaseLoop(PostRollMode postRoll) {
    record("releaseLoop " + std::string(rawValue(postRoll)));
}

void RecordingPanelFacade::Playback::removeObservers() {
    record("removeObservers");
}

void RecordingPanelFacade::Playback::waitForWarmReady(double, std::function<void(bool)> done) {
    record("waitForWarmReady");
    if (done) {
        done(false);
    }
}

void RecordingPanelFacade::Playback::setWarming(bool warming) {
    record(std::string("warming ") + (warming ? "1" : "0"));
}

void RecordingPanelFacade::Playback::hideSlotLayers() {
    record("hideSlotLayers");
}

void RecordingPanelFacade::Playback::clearSurface() {
    record("clearSurface");
}

void RecordingPanelFacade::Playback::setMeterPeak(bool peak) {
    record(std::string("meterPeak ") + (peak ? "1" : "0"));
}

void RecordingPanelFacade::Playback::seek(double seconds) {
    record("seek " + number(seconds));
}

void RecordingPanelFacade::Playback::skip(int frames, double rate) {
    record("skip " + std::to_string(frames) + " " + number(rate));
}

void RecordingPanelFacade::Playback::setSeeking(bool value) {
    owner_.seeking = value;
    record(std::string("seeking ") + (value ? "1" : "0"));
}

}  // namespace kestio::test
