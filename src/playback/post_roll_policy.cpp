#include "playback/post_roll_policy.h"

#include <cmath>
#include <string>

#include "platform/runloop/console.h"

namespace kestio {

namespace {
// The slot at (bank, slot) holds media; a place outside the project holds none.
bool hasMedia(const ProjectData& project, int bank, int slot) {
    if (bank < 0 || slot < 0 || std::size_t(bank) >= project.banks.size()) {
        return false;
    }
    const auto& slots = project.banks[std::size_t(bank)].slots;
    return std::size_t(slot) < slots.size() && slots[std::size_t(slot)].videoURL.has_value();
}

PostRollStep stepOf(PostRollAction action, std::optional<SlotRef> slot = std::nullopt,
                    std::optional<PostRollMode> standIn = std::nullopt) {
    PostRollStep step;
    step.action = action;
    step.slot = slot;
    step.standIn = standIn;
    return step;
}
}  // namespace

std::optional<SlotData> PostRollPolicy::slotData(int bank, int slot) const {
    if (!project_ || bank < 0 || slot < 0) {
        return std::nullopt;
    }
    const auto project = project_();
    if (!project || std::size_t(bank) >= project->banks.size()) {
        return std::nullopt;
    }
    const auto& slots = project->banks[std::size_t(bank)].slots;
    if (std::size_t(slot) >= slots.size()) {
        return std::nullopt;
    }
    return slots[std::size_t(slot)];
}

std::optional<SlotRef> PostRollPolicy::followerAtPlay(SlotRef onAir) const {
    const auto data = slotData(onAir.bank, onAir.slot);
    if (!data || data->mediaType != MediaType::video) {
        return std::nullopt;
    }
    if (data->postRollMode == PostRollMode::next) {
        return nextTarget(onAir.bank, onAir.slot);
    }
    if (data->postRollMode == PostRollMode::jump && data->jumpTarget) {
        const SlotRef jump{int(data->jumpTarget->bank), int(data->jumpTarget->slot)};
        if (slotData(jump.bank, jump.slot)) {
            return jump;
        }
    }
    return std::nullopt;
}

bool PostRollPolicy::isDueBeforeTheEnd(SlotRef onAir, double time, double itemDuration) const {
    const auto data = slotData(onAir.bank, onAir.slot);
    if (!data) {
        return false;
    }
    if (data->outPoint && std::isfinite(*data->outPoint)) {
        return time >= *data->outPoint;
    }
    if (data->outPoint || data->postRollMode != PostRollMode::freeze) {
        return false;
    }
    return std::isfinite(itemDuration) && itemDuration > 0.0 &&
           time >= itemDuration - kNearEndMargin;
}

PostRollMode PostRollPolicy::atEnd(SlotRef onAir) const {
    const auto data = slotData(onAir.bank, onAir.slot);
    return data ? data->postRollMode : PostRollMode::freeze;
}

PostRollStep PostRollPolicy::stepFor(PostRollMode mode, SlotRef onAir) const {
    switch (mode) {
        case PostRollMode::next: {
            const auto next = nextTarget(onAir.bank, onAir.slot);
            if (!next) {
                return stepOf(PostRollAction::black, std::nullopt, PostRollMode::black);
            }
            PostRollStep step = stepOf(PostRollAction::playSlot, next);
            if (next->bank != onAir.bank) {
                step.note = "PostRoll Next: BANK" + std::to_string(onAir.bank + 1) + " → BANK" +
                            std::to_string(onAir.bank + 2) + " SLOT1";
            }
            return step;
        }
        case PostRollMode::freeze:
            return stepOf(PostRollAction::freezeOnLastFrame);
        case PostRollMode::loop:
            return stepOf(PostRollAction::restart);
        case PostRollMode::black:
            return stepOf(PostRollAction::black);
        case PostRollMode::jump: {
            const auto target = jumpTarget(onAir.bank, onAir.slot);
            if (!target) {
                platform::Console::log("⚠️ JUMP: target not set, freezing");
                return stepOf(PostRollAction::freezeOnLastFrame, std::nullopt,
                              PostRollMode::freeze);
            }
            return stepOf(PostRollAction::playSlot, target);
        }
    }
    return stepOf(PostRollAction::freezeOnLastFrame);
}

bool PostRollPolicy::startsAnotherClip(PostRollMode mode) {
    return mode == PostRollMode::next || mode == PostRollMode::jump;
}

std::optional<SlotRef> PostRollPolicy::nextTarget(int bank, int slot) const {
    if (!project_) {
        return std::nullopt;
    }
    const auto project = project_();
    if (!project) {
        return std::nullopt;
    }
    const int64_t perBank = project->rows * project->columns;
    if (int64_t(slot) + 1 <= perBank - 1 && hasMedia(*project, bank, slot + 1)) {
        return SlotRef{bank, slot + 1};
    }
    if (int64_t(bank) < int64_t(project->banks.size()) - 1 && hasMedia(*project, bank + 1, 0)) {
        return SlotRef{bank + 1, 0};
    }
    return std::nullopt;
}

std::optional<SlotRef> PostRollPolicy::jumpTarget(int bank, int slot) const {
    const auto data = slotData(bank, slot);
    if (!data || !data->jumpTarget) {
        return std::nullopt;
    }
    const auto& jump = *data->jumpTarget;
    const auto project = project_ ? project_() : std::nullopt;
    // A target outside the project (a stale one after the grid changed) counts as none.
    const bool inside =
        project && jump.bank >= 0 && jump.slot >= 0 &&
        std::size_t(jump.bank) < project->banks.size() &&
        std::size_t(jump.slot) < project->banks[std::size_t(jump.bank)].slots.size() &&
        jump.slot < project->rows * project->columns;
    if (!inside) {
        platform::Console::log("⚠️ JUMP: target BANK" + std::to_string(jump.bank + 1) +
                               " SLOT" + std::to_string(jump.slot + 1) + " is outside the project");
        return std::nullopt;
    }
    return SlotRef{int(jump.bank), int(jump.slot)};
}

}  // namespace kestio
