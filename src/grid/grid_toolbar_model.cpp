#include "grid/grid_toolbar_model.h"

#include <cmath>
#include <cstdio>

#include "show/show_controller.h"
#include "show/slot_edits.h"
#include "ui/palette.h"

namespace kestio::grid {

namespace {

namespace palette = ui::palette;

std::string pick(AppLanguage language, const char* ja, const char* en) {
    return language == AppLanguage::en ? en : ja;
}

ToolbarItem button(ToolbarControl control, std::string text, ui::Symbol symbol, QColor fg,
                   QColor bg, bool enabled, QFont::Weight weight = QFont::Normal) {
    ToolbarItem item;
    item.control = control;
    item.text = std::move(text);
    item.symbol = symbol;
    item.textColor = fg;
    item.background = bg;
    item.enabled = enabled;
    item.weight = weight;
    return item;
}

ToolbarItem plain(ToolbarControl control) {
    ToolbarItem item;
    item.control = control;
    if (control == ToolbarControl::separator) {
        item.background = palette::white(0.4);
    }
    return item;
}

void normalFace(const ToolbarState& s, std::vector<ToolbarItem>& items) {
    const QColor dim = palette::white(0.7);
    const QColor group = palette::white(0.22);
    items.push_back(button(ToolbarControl::multipleSelect, "Multiple Select",
                           ui::Symbol::checkmarkCircle, s.editLocked ? palette::white(0.35) : dim,
                           group, !s.editLocked && !s.learnMode, QFont::Medium));
    items.push_back(button(ToolbarControl::midiLearn, "MIDI Learn", ui::Symbol::pianoKeys,
                           s.learnMode ? palette::black(1) : dim,
                           s.learnMode ? palette::green() : group, !s.editLocked, QFont::Medium));
    items.push_back(button(ToolbarControl::midiList, "MIDI List", ui::Symbol::listBullet, dim,
                           group, true, QFont::Medium));

    ToolbarItem labels =
        button(ToolbarControl::midiLabels, "",
               s.showMIDILabels ? ui::Symbol::eye : ui::Symbol::eyeSlash, dim, group, true);
    labels.fontSize = 10;
    labels.on = s.showMIDILabels;
    labels.tooltip =
        pick(s.language, "スロットにMIDIアサインを表示", "Show MIDI assignments on slots");
    items.push_back(labels);

    ToolbarItem follow =
        button(ToolbarControl::followJump, pick(s.language, "ジャンプ追従", "Follow Jump"),
               ui::Symbol::turnRight, s.followJump ? palette::white(0.85) : palette::white(0.45),
               group, true);
    follow.fontSize = 10;
    follow.on = s.followJump;
    follow.tooltip =
        pick(s.language,
             "スペースで進むとき、ポストロールがJumpのスロットではそのジャンプ先へ進みます"
             "（オフ = 常に次のスロットへ）",
             "When advancing with Space, follow a slot's Jump target if its post-roll "
             "is set to Jump (off = always go to the next slot)");
    items.push_back(follow);
    items.push_back(plain(ToolbarControl::spacer));
    items.push_back(plain(ToolbarControl::midiStatus));
}

void selectFace(const ToolbarState& s, std::vector<ToolbarItem>& items) {
    const int n = s.selectedCount;
    ToolbarItem count;
    count.control = ToolbarControl::countText;
    count.text = "● Multiple Select";
    if (n > 0) {
        count.text += "  " + std::to_string(n) + pick(s.language, " 件選択  (", " selected  (") +
                      s.selectionTotal + ")";
    }
    count.textColor = n == 0 ? palette::white(0.5) : palette::white(1);
    count.fontSize = 12;
    count.weight = QFont::Medium;
    count.monospaced = true;
    items.push_back(count);

    const bool all = n == s.bankSlotCount;
    items.push_back(button(ToolbarControl::selectAll,
                           all ? pick(s.language, "選択解除", "Deselect All")
                               : pick(s.language, "すべて選択", "Select All"),
                           ui::Symbol::none, palette::white(1), palette::white(0.3), true));
    items.push_back(plain(ToolbarControl::separator));
    const bool any = n > 0;
    const QColor fg = any ? palette::white(1) : palette::white(0.35);
    const QColor bg = any ? palette::white(0.3) : palette::white(0.18);
    items.push_back(button(ToolbarControl::batchNextGo, "Next GO", ui::Symbol::none, fg, bg, any));
    items.push_back(button(ToolbarControl::batchFreeze, "Freeze", ui::Symbol::none, fg, bg, any));
    items.push_back(plain(ToolbarControl::separator));
    items.push_back(button(ToolbarControl::copy, pick(s.language, "コピー", "Copy"),
                           ui::Symbol::docOnDoc, fg, bg, any));
    items.push_back(button(ToolbarControl::remove, pick(s.language, "削除", "Delete"),
                           ui::Symbol::trash, any ? palette::withOpacity(palette::red(), 0.9) : fg,
                           any ? palette::withOpacity(palette::red(), 0.18) : bg, any));
    items.push_back(plain(ToolbarControl::separator));
    items.push_back(button(ToolbarControl::cancel, pick(s.language, "キャンセル", "Cancel"),
                           ui::Symbol::none, palette::white(0.7), palette::white(0.22), true));
    items.push_back(plain(ToolbarControl::spacer));
}

}  // namespace

ToolbarFace toolbarFace(const ToolbarState& state) {
    ToolbarFace face;
    face.barBackground =
        state.selectMode ? palette::withOpacity(palette::blue(), 0.35) : palette::white(0.13);
    if (state.selectMode) {
        selectFace(state, face.items);
    } else {
        normalFace(state, face.items);
    }
    return face;
}

ToolbarState toolbarState(const ShowController& show, AppLanguage language) {
    ToolbarState s;
    const auto& project = show.project();
    const int bank = show.currentBank.get();
    s.selectMode = show.isSelectMode.get();
    s.editLocked = show.editLocked.get();
    s.learnMode = show.isMIDILearnMode.get();
    s.showMIDILabels = show.showMIDIAssignLabels.get();
    s.followJump = show.followJump.get();
    s.selectedCount = static_cast<int>(show.selectedSlots.get().size());
    s.bankSlotCount =
        addressesBank(project, bank)
            ? static_cast<int>(project.banks[static_cast<std::size_t>(bank)].slots.size())
            : 0;
    s.selectionTotal = selectionTotal(project, bank, show.selectedSlots.get());
    s.language = language;
    return s;
}

std::string formatDuration(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0) {
        seconds = 0;
    }
    const long long total = std::llround(std::min(seconds, 1.0e12));
    char text[48];
    if (total < 3600) {
        std::snprintf(text, sizeof text, "%02lld:%02lld", total / 60, total % 60);
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", total / 3600, (total % 3600) / 60,
                      total % 60);
    }
    return text;
}

std::string selectionTotal(const ProjectData& project, int bank, const std::set<int>& selection) {
    double sum = 0;
    if (addressesBank(project, bank)) {
        const auto& slots = project.banks[static_cast<std::size_t>(bank)].slots;
        for (int index : selection) {
            if (index >= 0 && static_cast<std::size_t>(index) < slots.size()) {
                const auto& info = slots[static_cast<std::size_t>(index)].clipInfo;
                if (info && std::isfinite(info->duration)) {
                    sum += info->duration;
                }
            }
        }
    }
    return formatDuration(sum);
}

}  // namespace kestio::grid
