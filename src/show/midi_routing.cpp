#include "show/midi_routing.h"

#include <algorithm>
#include <charconv>

#include "control/midi_input_controller.h"
#include "control/midi_list_panel_controller.h"
#include "model/localization_manager.h"
#include "platform/ui/dialog_presenter.h"
#include "show/midi_assignment_dedup.h"
#include "show/show_playback.h"
#include "show/show_project.h"
#include "show/slot_edits.h"

namespace kestio {

namespace {

// A bank index as the control text writes it: an optional sign and decimal digits, nothing else.
std::optional<int> parseBankIndex(std::string_view text) {
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (text.empty() || text.front() == '-') {
            return std::nullopt;
        }
    }
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

void MIDIRouting::setupMIDIInput() {
    std::weak_ptr<MIDIRouting*> alive = alive_;
    midi_.slotCount = static_cast<int>(show_.project.data().rows * show_.project.data().columns);
    midi_.onPlaySlot = nullptr;
    midi_.onRawMessage = [alive](std::uint8_t status, std::uint8_t data1, std::uint8_t data2) {
        if (auto self = alive.lock()) {
            (*self)->handleMIDINoteOn(status, data1, data2);
        }
    };
    midi_.isControlNote = [alive](std::uint8_t channel, std::uint8_t note) {
        const auto self = alive.lock();
        if (!self) {
            return false;
        }
        const auto& controls = (*self)->show_.project.data().midiControlAssignments;
        return std::any_of(controls.begin(), controls.end(), [&](const auto& assignment) {
            return assignment.channel == channel + 1 && assignment.note == note;
        });
    };
    midi_.onControlChange = [alive](std::uint8_t channel, std::uint8_t controller,
                                    std::uint8_t value) {
        if (auto self = alive.lock()) {
            (*self)->handleMIDIControlChange(channel, controller, value);
        }
    };
}

void MIDIRouting::handleMIDINoteOn(std::uint8_t status, std::uint8_t note, std::uint8_t velocity) {
    if ((status & 0xF0) != 0x90 || velocity == 0 || learn_.isMIDILearnMode.get()) {
        return;
    }
    const std::int64_t channel = (status & 0x0F) + 1;
    for (std::size_t b = 0; b < show_.project.data().banks.size(); ++b) {
        const auto& slots = show_.project.data().banks[b].slots;
        for (std::size_t s = 0; s < slots.size(); ++s) {
            const auto& bindings = slots[s].midiBindings;
            if (!bindings || std::find(bindings->begin(), bindings->end(),
                                       MIDINoteBinding{channel, note}) == bindings->end()) {
                continue;
            }
            const int bank = static_cast<int>(b);
            const int slot = static_cast<int>(s);
            actions_.slotNote(bank, slot);
            return;
        }
    }
    for (const auto& assignment : show_.project.data().midiControlAssignments) {
        if (assignment.channel == channel && assignment.note == note) {
            const std::string target = assignment.target;  // the action may change the list
            performMIDIControlAction(target);
            return;
        }
    }
}

void MIDIRouting::performMIDIControlAction(const std::string& target) {
    constexpr std::string_view bankPrefix = "bank:";
    if (target.rfind(bankPrefix, 0) == 0) {
        const auto index = parseBankIndex(std::string_view(target).substr(bankPrefix.size()));
        if (index) {
            actions_.selectBank(*index);
        }
    } else if (target == "stop") {
        actions_.stop();
    } else if (target == "play") {
        show_.playback.resume();
    } else if (target == "pause") {
        show_.playback.pause();
    } else if (target == "mute") {
        std::optional<AudioSettings> audio;
        if (const auto onAir = show_.playback.onAirOrOnItsWay()) {
            if (const SlotData* record = show_.project.slotAt(onAir->bank, onAir->slot)) {
                audio = record->audioSettings;
            }
        }
        show_.playback.toggleMute(audio);
    }
}

void MIDIRouting::handleMIDIControlChange(std::uint8_t, std::uint8_t controller,
                                          std::uint8_t value) {
    const auto onAir = show_.playback.onAirOrOnItsWay();
    if (!onAir) {
        return;
    }
    SlotData* record = show_.project.slotAt(onAir->bank, onAir->slot);
    if (!record) {
        return;
    }
    const float fraction = static_cast<float>(value) / 127.0f;
    if (controller == 7) {
        record->audioSettings.masterLevel = fraction * 36.0f - 24.0f;
        const bool muted = record->audioSettings.isMuted;
        const float level = record->audioSettings.masterLevel;
        show_.project.setUnsaved();
        show_.playback.applySlotVolume(muted, level);
        return;
    }
    if (controller < 20 || controller > 25) {
        return;
    }
    float EqualizerSettings::*bands[] = {&EqualizerSettings::hz80,   &EqualizerSettings::hz315,
                                         &EqualizerSettings::hz800,  &EqualizerSettings::khz1_25,
                                         &EqualizerSettings::khz2_5, &EqualizerSettings::khz3_2};
    record->equalizer.*bands[controller - 20] = fraction * 24.0f - 12.0f;
    const EqualizerSettings equalizer = record->equalizer;
    show_.project.setUnsaved();
    show_.playback.applyEqualizerToShowingSlot(equalizer);
}

// GCC 12 with the sanitizers wrongly takes the payload of the empty optional handed to the
// published value for read before it is written.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
void MIDIRouting::disarmMIDILearn() {
    learn_.midiLearnArmedTarget = std::nullopt;
    midi_.onLearnedNote = nullptr;
}
#pragma GCC diagnostic pop

void MIDIRouting::toggleMIDILearnMode() {
    learn_.isMIDILearnMode = !learn_.isMIDILearnMode.get();
    if (!learn_.isMIDILearnMode.get()) {
        disarmMIDILearn();
    }
}

// The learned-note callbacks copy what they need before acting: learning disarms, which
// replaces the callback while it runs.
void MIDIRouting::armMIDILearn(int bank, int slot) {
    if (!learn_.isMIDILearnMode.get()) {
        return;
    }
    learn_.midiLearnArmedTarget = MIDILearnTarget::forSlot(bank, slot);
    std::weak_ptr<MIDIRouting*> alive = alive_;
    midi_.onLearnedNote = [alive, bank, slot](std::uint8_t channel, std::uint8_t note) {
        const auto self = alive.lock();
        const int b = bank;
        const int s = slot;
        if (self) {
            (*self)->learnSlotBinding(channel, note, b, s);
        }
    };
}

void MIDIRouting::armMIDILearn(const std::string& control) {
    if (!learn_.isMIDILearnMode.get()) {
        return;
    }
    learn_.midiLearnArmedTarget = MIDILearnTarget::forControl(control);
    std::weak_ptr<MIDIRouting*> alive = alive_;
    midi_.onLearnedNote = [alive, control](std::uint8_t channel, std::uint8_t note) {
        const auto self = alive.lock();
        const std::string target = control;
        if (self) {
            (*self)->learnControlAssignment(channel, note, target);
        }
    };
}

void MIDIRouting::refreshVisibleMIDIList() {
    if (midiList_ && midiList_->isPanelVisible()) {
        midiList_->store().update(show_.project.data());
    }
}

void MIDIRouting::learnSlotBinding(int rawChannel, int note, int bank, int slot) {
    if (!show_.project.slotAt(bank, slot)) {
        return;
    }
    const std::int64_t channel = rawChannel + 1;
    removeMIDIBinding(channel, note);
    show_.project.slotAt(bank, slot)->addMIDIBinding(channel, note);
    show_.project.setUnsaved();
    refreshVisibleMIDIList();
    disarmMIDILearn();
}

void MIDIRouting::learnControlAssignment(int rawChannel, int note, const std::string& target) {
    const std::int64_t channel = rawChannel + 1;
    removeMIDIBinding(channel, note);
    show_.project.data().midiControlAssignments.push_back({target, channel, note});
    show_.project.setUnsaved();
    refreshVisibleMIDIList();
    disarmMIDILearn();
}

void MIDIRouting::removeMIDIBinding(std::int64_t channel, std::int64_t note) {
    const MIDINoteBinding pair{channel, note};
    for (auto& bank : show_.project.data().banks) {
        for (auto& slot : bank.slots) {
            if (slot.midiBindings) {
                std::erase(*slot.midiBindings, pair);  // an emptied list stays a list
            }
        }
    }
    std::erase_if(show_.project.data().midiControlAssignments, [&](const MIDIControlAssignment& a) {
        return a.channel == channel && a.note == note;
    });
    show_.project.didChange();
}

std::vector<MIDIControlAssignment> MIDIRouting::controlAssignments(
    const std::string& target) const {
    std::vector<MIDIControlAssignment> found;
    for (const auto& assignment : show_.project.data().midiControlAssignments) {
        if (assignment.target == target) {
            found.push_back(assignment);
        }
    }
    return found;
}

std::optional<MIDIControlAssignment> MIDIRouting::firstControlAssignment(
    const std::string& target) const {
    for (const auto& assignment : show_.project.data().midiControlAssignments) {
        if (assignment.target == target) {
            return assignment;
        }
    }
    return std::nullopt;
}

void MIDIRouting::clearControlAssignment(const std::string& target) {
    std::erase_if(show_.project.data().midiControlAssignments,
                  [&](const MIDIControlAssignment& a) { return a.target == target; });
    show_.project.setUnsaved();
}

void MIDIRouting::deduplicateMIDIAssignments() {
    const int removed = kestio::deduplicateMIDIAssignments(show_.project.data());
    if (removed == 0) {
        return;
    }
    show_.playback.log("🧹 MIDIアサインの重複を " + std::to_string(removed) +
                       "件 整理しました");
    show_.project.setUnsaved();
}

void MIDIRouting::showMIDIOutputAssignDialog(int bank, int slot) {
    const SlotData* data = show_.project.slotAt(bank, slot);
    if (data == nullptr) {
        return;
    }
    const std::uint64_t generation = show_.project.generation();
    const MIDINoteBinding start = midiOutputDialogStart(data->midiOutputBinding);
    platform::DialogPresenter::MIDINotePrompt prompt;
    prompt.message = L("MIDI出力アサイン", "MIDI Output Assign");
    prompt.informative = L(
        "このスロットを再生したときに外部機器へ送るMIDIチャンネルとノート番号を指定してください。",
        "Specify the MIDI channel and note number to send to the external device when this "
        "slot plays.");
    // These two labels read the same in both languages.
    prompt.channelLabel = "Channel (1-16)";
    prompt.noteLabel = "Note (0-127)";
    prompt.channelText = std::to_string(start.channel);
    prompt.noteText = std::to_string(start.note);
    const auto answer = show_.dialogs.promptMIDINote(prompt, "OK", L("キャンセル", "Cancel"));
    if (!answer || generation != show_.project.generation()) {
        return;
    }
    SlotData* target = show_.project.slotAt(bank, slot);
    if (target == nullptr) {
        return;
    }
    target->midiOutputBinding = midiOutputFromFields(answer->first, answer->second);
    show_.project.setUnsaved();
    show_.project.didChange();
}

}  // namespace kestio
