#pragma once

#include <QObject>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>

#include "control/key_binding_store.h"
#include "control/key_event_info.h"
#include "platform/runloop/published.h"

namespace kestio {

// Turns key presses anywhere in the application into show actions: the play-control keys of
// the binding store, Ctrl+S, Ctrl+digit and Ctrl+Alt+digit for banks, the arrows for the
// cursor and the 40 slot keys. It filters the key events of the whole application; a key it
// handles is swallowed (also when its callback is not set), every other key goes on as usual.
// Keys pass untouched while a modal window, a menu or a popup is up, and while a text field has
// the focus (also a field of a widget that a graphics view shows). Each press is judged once,
// when the application first sees it: the field that ends its typing on Return (and hides, or
// closes its popup) keeps that Return, however it is handed on afterwards. A held key fires
// once: the keyboard's repeats of any key but the arrows are swallowed and do nothing.
class KeyboardShortcutHandler : public QObject {
  public:
    // What a key press stands for.
    struct Shortcut {
        enum class Kind { action, save, selectBank, moveCursor, playSlot };
        Kind kind = Kind::action;
        PlayControlAction action = PlayControlAction::cutGo;  // for Kind::action
        int first = 0;   // the bank, the slot, or the row delta
        int second = 0;  // the column delta
        bool operator==(const Shortcut&) const = default;
    };

    explicit KeyboardShortcutHandler(KeyBindingStore& store = KeyBindingStore::shared());
    ~KeyboardShortcutHandler() override;

    platform::Published<bool> isActive{false};

    std::function<void(int slotIndex)> onPlaySlot;
    std::function<void()> onCutGo;
    std::function<void()> onPause;
    std::function<void(int rowDelta, int columnDelta)> onMoveCursor;
    std::function<void()> onEnter;
    std::function<void()> onStandby;
    std::function<void()> onStop;
    std::function<void()> onSave;
    std::function<void(int bankIndex)> onSelectBank;

    bool isEnabled = true;

    // Starts filtering the application's key events (once).
    void start();
    // Stops filtering; isActive keeps its value.
    void stop();
    bool isMonitoring() const { return monitoring_; }

    // What the key stands for, reading the binding store afresh; no side effect.
    std::optional<Shortcut> decide(const KeyEventInfo& key) const;
    // Decides and calls the callback; true when the key is handled. A repeat of a held key is
    // handled without a call, unless it moves the cursor.
    bool handle(const KeyEventInfo& key);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // One key press as it is handed from widget to widget: the same event, seen first by
    // `firstReceiver`.
    struct Press {
        const QEvent* event = nullptr;
        const QObject* firstReceiver = nullptr;
        int type = 0;
        std::uint64_t timestamp = 0;
        int key = 0;
        std::uint32_t scanCode = 0;
        int modifiers = 0;
        bool autoRepeat = false;
        bool keysGoElsewhere = false;  // what was judged at its first receiver
    };
    static Press pressOf(const QObject* watched, const QKeyEvent& event);
    static bool samePress(const Press& a, const Press& b);
    static bool keysGoElsewhere();
    void fire(const Shortcut& shortcut);

    KeyBindingStore& store_;
    bool monitoring_ = false;
    std::array<Press, 8> presses_{};
    struct Release {
        int key = 0;
        std::uint64_t timestamp = 0;
    };
    Release lastRelease_;
    std::size_t nextPress_ = 0;
};

}  // namespace kestio
