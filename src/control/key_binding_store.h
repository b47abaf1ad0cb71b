#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "control/key_binding.h"
#include "control/play_control_action.h"
#include "platform/runloop/published.h"
#include "platform/storage/user_defaults.h"

namespace kestio {

// The operator's choice of key for each play-control action, kept in the user defaults.
// An action's effective key is none when it is in unassignedActions, else its entry in
// bindings, else its default key unless another action's entry holds that key. No action is
// ever in both. Main thread only.
//
// Stored form: under "playControlKeyBindings" a map from action raw value to
// {"keyCode": code, "modifiers": flags}; under "playControlUnassignedActions" the raw values
// of the unassigned actions, in action order.
class KeyBindingStore {
  public:
    // Loads at once. The store is borrowed and must outlive this one.
    explicit KeyBindingStore(platform::UserDefaults& defaults);
    KeyBindingStore(const KeyBindingStore&) = delete;
    KeyBindingStore& operator=(const KeyBindingStore&) = delete;

    // The application's store, made on first use over the standard user defaults.
    static KeyBindingStore& shared();

    platform::Published<std::map<PlayControlAction, KeyBinding>> bindings;
    platform::Published<std::set<PlayControlAction>> unassignedActions;

    static constexpr const char* defaultsKey = "playControlKeyBindings";
    static constexpr const char* unassignedKey = "playControlUnassignedActions";

    // Replaces the published values from the user defaults. Malformed data never stops it:
    // an unreadable map is ignored as a whole, entries naming no action or lacking a field
    // are skipped, as are key codes above 65535; modifiers of any width are kept, masked to
    // their four significant bits.
    void load();
    // Writes both keys, also when empty.
    void save();
    // Sets the action to "Not Assigned" and saves.
    void unassign(PlayControlAction action);
    // Empties both collections (every action back on its default key) and saves.
    void resetToDefaults();

    std::optional<KeyBinding> effectiveKey(PlayControlAction action) const;
    // The first action (in action order, `excluding` and unassigned ones skipped) whose
    // effective key equals the given one exactly.
    std::optional<PlayControlAction> conflictingAction(
        std::uint16_t keyCode, std::uint64_t modifiers,
        std::optional<PlayControlAction> excluding) const;
    // Binds the key to the action and saves; gives the refusal text (reserved key, or a key
    // another action has) and changes nothing when it refuses.
    std::optional<std::string> assign(std::uint16_t keyCode, std::uint64_t modifiers,
                                      PlayControlAction action);

  private:
    platform::UserDefaults& defaults_;
};

}  // namespace kestio
