#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "control/key_binding.h"

namespace kestio {

// The show actions that a key chosen by the operator can fire, in the order every loop over
// them uses.
enum class PlayControlAction { cutGo, pause, playAtCursor, standby, stop };

inline constexpr std::array<PlayControlAction, 5> kAllPlayControlActions = {
    PlayControlAction::cutGo, PlayControlAction::pause, PlayControlAction::playAtCursor,
    PlayControlAction::standby, PlayControlAction::stop};

// "cutGo", "pause", "playAtCursor", "standby", "stop".
std::string_view rawValue(PlayControlAction action);
// The action of a raw value, or none.
std::optional<PlayControlAction> playControlActionFromRawValue(std::string_view raw);

// The action's title in the current language.
std::string title(PlayControlAction action);

// The built-in key: Space, Shift+Space, Return, Shift+Return; none for stop.
std::optional<KeyBinding> defaultKey(PlayControlAction action);

}  // namespace kestio
