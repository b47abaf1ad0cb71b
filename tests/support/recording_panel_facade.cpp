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
    bank_ = bank;
    slot_ = slot;
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

void RecordingPanelFacade::handlePostRoll(PostRollMode mode) {
    calls.push_back("postRoll " + std::string(rawValue(mode)));
}

void RecordingPanelFacade::releaseLoop(PostRollMode postRoll) {
    calls.push_back("releaseLoop " + std::string(rawValue(postRoll)));
}

void RecordingPanelFacade::toggleMute(const std::optional<AudioSettings>& onAirAudio) {
    calls.push_back(onAirAudio ? "toggleMute " + std::string(onAirAudio->isMuted ? "1 " : "0 ") +
                                     number(onAirAudio->masterLevel)
                               : std::string("toggleMute none"));
}

void RecordingPanelFacade::setMeterPeak(bool peak) {
    calls.push_back(std::string("meterPeak ") + (peak ? "1" : "0"));
}

void RecordingPanelFacade::seek(double seconds) {
    calls.push_back("seek " + number(seconds));
}

void RecordingPanelFacade::skip(int frames, double rate) {
    calls.push_back("skip " + std::to_string(frames) + " " + number(rate));
}

void RecordingPanelFacade::setSeeking(bool value) {
    seeking = value;
    calls.push_back(std::string("seeking ") + (value ? "1" : "0"));
}

}  // namespace kestio::test
