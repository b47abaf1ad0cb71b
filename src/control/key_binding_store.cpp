#include "control/key_binding_store.h"

#include <limits>

#include "control/key_codes.h"
#include "model/localization_manager.h"

namespace kestio {

KeyBindingStore::KeyBindingStore(platform::UserDefaults& defaults) : defaults_(defaults) {
    load();
}

KeyBindingStore& KeyBindingStore::shared() {
    static KeyBindingStore* store = new KeyBindingStore(platform::UserDefaults::standard());
    return *store;
}

void KeyBindingStore::load() {
    if (auto stored = defaults_.uintMapMap(defaultsKey)) {
        std::map<PlayControlAction, KeyBinding> loaded;
        for (const auto& [raw, fields] : *stored) {
            const auto action = playControlActionFromRawValue(raw);
            auto code = fields.find("keyCode");
            auto mods = fields.find("modifiers");
            if (!action || code == fields.end() || mods == fields.end()) {
                continue;
            }
            if (code->second > std::numeric_limits<std::uint16_t>::max()) {
                continue;  // no such key: written by something else, not trusted
            }
            // Modifiers keep only their significant bits, however wide the stored value is.
            loaded[*action] = KeyBinding{static_cast<std::uint16_t>(code->second),
                                         mods->second & modifier::kMask};
        }
        bindings = std::move(loaded);
    }
    if (auto stored = defaults_.stringList(unassignedKey)) {
        std::set<PlayControlAction> loaded;
        for (const auto& raw : *stored) {
            if (auto action = playControlActionFromRawValue(raw)) {
                loaded.insert(*action);
            }
        }
        unassignedActions = std::move(loaded);
    }
}

void KeyBindingStore::save() {
    platform::UIntMapMap stored;
    for (const auto& [action, key] : bindings.get()) {
        stored[std::string(rawValue(action))] = {{"keyCode", key.keyCode},
                                                 {"modifiers", key.modifierRawValue}};
    }
    defaults_.setUIntMapMap(defaultsKey, stored);
    std::vector<std::string> unassigned;
    for (auto action : kAllPlayControlActions) {
        if (unassignedActions.get().count(action) != 0) {
            unassigned.emplace_back(rawValue(action));
        }
    }
    defaults_.setStringList(unassignedKey, unassigned);
}

void KeyBindingStore::unassign(PlayControlAction action) {
    auto keys = bindings.get();
    keys.erase(action);
    bindings = std::move(keys);
    auto unassigned = unassignedActions.get();
    unassigned.insert(action);
    unassignedActions = std::move(unassigned);
    save();
}

void KeyBindingStore::resetToDefaults() {
    bindings = std::map<PlayControlAction, KeyBinding>{};
    unassignedActions = std::set<PlayControlAction>{};
    save();
}

std::optional<KeyBinding> KeyBindingStore::effectiveKey(PlayControlAction action) const {
    if (unassignedActions.get().count(action) != 0) {
        return std::nullopt;
    }
    if (auto it = bindings.get().find(action); it != bindings.get().end()) {
        return it->second;
    }
    // A default yields to the same key stored for another action: a key the operator chose
    // keeps doing what he chose it for when a default changes.
    const auto key = defaultKey(action);
    for (const auto& [other, stored] : bindings.get()) {
        if (key && other != action && stored == *key) {
            return std::nullopt;
        }
    }
    return key;
}

std::optional<PlayControlAction> KeyBindingStore::conflictingAction(
    std::uint16_t keyCode, std::uint64_t modifiers,
    std::optional<PlayControlAction> excluding) const {
    for (auto action : kAllPlayControlActions) {
        if (action == excluding) {
            continue;
        }
        const auto key = effectiveKey(action);
        if (key && key->keyCode == keyCode && key->modifierRawValue == modifiers) {
            return action;
        }
    }
    return std::nullopt;
}

std::optional<std::string> KeyBindingStore::assign(std::uint16_t keyCode, std::uint64_t modifiers,
                                                   PlayControlAction action) {
    if (isReservedKey(keyCode, modifiers)) {
        return L("このキーはスロット再生／カーソル移動用に予約されています",
                 "This key is reserved for slot playback / cursor movement");
    }
    if (auto other = conflictingAction(keyCode, modifiers, action)) {
        const std::string name = title(*other);
        return L("「" + name + "」に既に割り当てられています",
                 "Already assigned to \"" + name + "\"");
    }
    auto keys = bindings.get();
    keys[action] = KeyBinding{keyCode, modifiers};
    bindings = std::move(keys);
    auto unassigned = unassignedActions.get();
    unassigned.erase(action);
    unassignedActions = std::move(unassigned);
    save();
    return std::nullopt;
}

}  // namespace kestio
