#include "control/play_control_action.h"

#include "control/key_codes.h"
#include "model/localization_manager.h"

namespace kestio {

std::string_view rawValue(PlayControlAction action) {
    switch (action) {
        case PlayControlAction::cutGo:
            return "cutGo";
        case PlayControlAction::pause:
            return "pause";
        case PlayControlAction::playAtCursor:
            return "playAtCursor";
        case PlayControlAction::standby:
            return "standby";
        case PlayControlAction::stop:
            return "stop";
    }
    return "";
}

std::optional<PlayControlAction> playControlActionFromRawValue(std::string_view raw) {
    for (auto action : kAllPlayControlActions) {
        if (rawValue(action) == raw) {
            return action;
        }
    }
    return std::nullopt;
}

std::string title(PlayControlAction action) {
    switch (action) {
        case PlayControlAction::cutGo:
            return L("Cut Go（次のスロットへ移動して再生、空なら黒）",
                     "Cut Go (advance to next slot and play, black if empty)");
        case PlayControlAction::pause:
            return L("一時停止", "Pause");
        case PlayControlAction::playAtCursor:
            return L("カーソル位置を再生", "Play at Cursor");
        case PlayControlAction::standby:
            return "Stand by at First Frame";
        case PlayControlAction::stop:
            return L("STOP（再生停止・黒）", "STOP (stop playback / black)");
    }
    return {};
}

std::optional<KeyBinding> defaultKey(PlayControlAction action) {
    switch (action) {
        case PlayControlAction::cutGo:
            return KeyBinding{keycode::kSpace, 0};
        case PlayControlAction::pause:
            // Alt+Space opens the window menu under most Linux window managers.
            return KeyBinding{keycode::kSpace, modifier::kShift};
        case PlayControlAction::playAtCursor:
            return KeyBinding{keycode::kReturn, 0};
        case PlayControlAction::standby:
            return KeyBinding{keycode::kReturn, modifier::kShift};
        case PlayControlAction::stop:
            return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace kestio
