#include "grid/slot_menu_model.h"

#include <cmath>
#include <string_view>

#include "ui/post_roll_modes.h"

namespace kestio::grid {

namespace {

std::string pick(AppLanguage language, std::string_view ja, std::string_view en) {
    return std::string(language == AppLanguage::en ? en : ja);
}

SlotMenuEntry action(std::string text, SlotCommandKind kind) {
    SlotMenuEntry entry;
    entry.text = std::move(text);
    entry.command.kind = kind;
    return entry;
}

SlotMenuEntry separator() {
    SlotMenuEntry entry;
    entry.kind = SlotMenuEntry::Kind::separator;
    return entry;
}

// "0.5 sec" below one second, else the whole seconds ("2 sec").
std::string dissolveText(double seconds, AppLanguage language) {
    const std::string number =
        seconds < 1 ? std::string("0.5") : std::to_string(static_cast<long long>(seconds));
    return language == AppLanguage::en ? number + " sec" : number + "秒";
}

SlotMenuEntry effectMenu(const SlotData& slot, AppLanguage language) {
    SlotMenuEntry menu;
    menu.kind = SlotMenuEntry::Kind::submenu;
    menu.text = pick(language, "エフェクト", "Effect");
    auto transition = [&](std::string text, TransitionMode mode) {
        auto entry = action(std::move(text), SlotCommandKind::setTransition);
        entry.command.transition = mode;
        entry.checked = slot.transitionMode == mode;
        return entry;
    };
    menu.children.push_back(transition(pick(language, "カット", "Cut"), TransitionMode::cut));
    menu.children.push_back(
        transition(pick(language, "ディゾルブ", "Dissolve"), TransitionMode::dissolve));
    if (slot.transitionMode == TransitionMode::dissolve) {
        menu.children.push_back(separator());
        for (double t : kDissolveTimes) {
            auto entry = action(dissolveText(t, language), SlotCommandKind::setDissolveTime);
            entry.command.seconds = t;
            entry.checked = std::abs(slot.dissolveDuration - t) < 0.1;
            menu.children.push_back(std::move(entry));
        }
    }
    return menu;
}

SlotMenuEntry postRollMenu(const SlotData& slot, AppLanguage language) {
    SlotMenuEntry menu;
    menu.kind = SlotMenuEntry::Kind::submenu;
    menu.text = pick(language, "ポストロール", "Post-Roll");
    for (const auto& row : ui::kPostRollModes) {
        auto entry = action(std::string(row.label), SlotCommandKind::setPostRoll);
        entry.command.postRoll = row.mode;
        entry.checked = slot.postRollMode == row.mode;
        menu.children.push_back(std::move(entry));
    }
    return menu;
}

constexpr const char* kStandby = "Stand by at First Frame";  // the same in both languages

}  // namespace

std::vector<SlotMenuEntry> slotMenu(const SlotCellInputs& in) {
    const AppLanguage lang = in.language;
    const SlotData& slot = in.slot;
    std::vector<SlotMenuEntry> menu;
    if (in.midiLearnHighlight) {
        auto entry = action(pick(lang, "MIDIアサインを解除", "Clear MIDI Assignment"),
                            SlotCommandKind::clearMIDIAssignment);
        entry.destructive = true;
        entry.enabled = slot.midiBindings && !slot.midiBindings->empty();
        menu.push_back(std::move(entry));
        return menu;
    }
    if (in.inSelectMode) {
        return menu;
    }
    if (in.editLocked) {
        menu.push_back(action(kStandby, SlotCommandKind::standby));
        return menu;
    }
    const bool loaded = isLoaded(slot);
    const bool picture = slot.mediaType == MediaType::video || slot.mediaType == MediaType::still;
    menu.push_back(
        action(pick(lang, "メディアを読み込む", "Load Media"), SlotCommandKind::assignMedia));
    if (loaded && picture) {
        menu.push_back(effectMenu(slot, lang));
        menu.push_back(postRollMenu(slot, lang));
        menu.push_back(separator());
        menu.push_back(action(kStandby, SlotCommandKind::standby));
    }
    if (loaded && slot.mediaType == MediaType::audio) {
        menu.push_back(action(kStandby, SlotCommandKind::standby));
    }
    if (loaded) {
        menu.push_back(separator());
        if (const auto& out = slot.midiOutputBinding) {
            const std::string ch = std::to_string(out->channel);
            const std::string note = std::to_string(out->note);
            menu.push_back(action(lang == AppLanguage::en
                                      ? "MIDI Output: Ch" + ch + " Note" + note + " (change)"
                                      : "MIDI出力: Ch" + ch + " Note" + note + "（変更）",
                                  SlotCommandKind::setMIDIOutput));
            auto clear =
                action(pick(lang, "MIDI出力アサインを解除", "Clear MIDI Output Assignment"),
                       SlotCommandKind::clearMIDIOutput);
            clear.destructive = true;
            menu.push_back(std::move(clear));
        } else {
            menu.push_back(action(pick(lang, "MIDI出力アサイン...", "MIDI Output Assign..."),
                                  SlotCommandKind::setMIDIOutput));
        }
    }
    menu.push_back(separator());
    if (loaded) {
        auto copy = action(pick(lang, "コピー", "Copy"), SlotCommandKind::copy);
        copy.enabled = !in.isCurrent;
        menu.push_back(std::move(copy));
        auto replace = action(pick(lang, "入れ替え", "Replace"), SlotCommandKind::replace);
        replace.enabled = !in.isCurrent;
        menu.push_back(std::move(replace));
    }
    if (in.hasClipboard) {
        menu.push_back(action(pick(lang, "ペースト", "Paste"), SlotCommandKind::paste));
    }
    if (loaded) {
        menu.push_back(separator());
        auto remove =
            action(pick(lang, "クリップを削除", "Delete Clip"), SlotCommandKind::unassign);
        remove.destructive = true;
        menu.push_back(std::move(remove));
    }
    return menu;
}

}  // namespace kestio::grid
