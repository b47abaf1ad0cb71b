#pragma once

// The post-roll modes as the views show them, in the order they are offered: the one table the
// player panel's buttons, the grid's icon and the slot menu read. A mode's stored name is the
// model's (rawValue in model_enums.h); what follows a clip in each mode is the playback's
// post-roll policy.

#include <array>
#include <string_view>

#include "model/model_enums.h"
#include "ui/symbols.h"

namespace kestio::ui {

struct PostRollModeView {
    PostRollMode mode;
    // The same in both languages.
    std::string_view label;
    Symbol symbol;
};

inline constexpr std::array<PostRollModeView, 5> kPostRollModes{{
    {PostRollMode::next, "Next GO", Symbol::nextGo},
    {PostRollMode::freeze, "Freeze", Symbol::freeze},
    {PostRollMode::loop, "Loop", Symbol::loop},
    {PostRollMode::black, "Black", Symbol::black},
    {PostRollMode::jump, "Jump", Symbol::jump},
}};

// The row of `mode`.
constexpr const PostRollModeView& postRollModeView(PostRollMode mode) {
    for (const auto& row : kPostRollModes) {
        if (row.mode == mode) {
            return row;
        }
    }
    return kPostRollModes.front();
}

}  // namespace kestio::ui
