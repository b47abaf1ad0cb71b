#include "control/keyboard_shortcut_handler.h"

#include <QApplication>
#include <QGraphicsItem>
#include <QGraphicsProxyWidget>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QKeyEvent>
#include <algorithm>

#include "control/key_codes.h"
#include "control/text_entry.h"

namespace kestio {

KeyboardShortcutHandler::KeyboardShortcutHandler(KeyBindingStore& store) : store_(store) {}

KeyboardShortcutHandler::~KeyboardShortcutHandler() {
    stop();
}

void KeyboardShortcutHandler::start() {
    if (monitoring_ || QCoreApplication::instance() == nullptr) {
        return;
    }
    isActive = true;
    QCoreApplication::instance()->installEventFilter(this);
    monitoring_ = true;
}

void KeyboardShortcutHandler::stop() {
    if (!monitoring_) {
        return;
    }
    if (QCoreApplication::instance() != nullptr) {
        QCoreApplication::instance()->removeEventFilter(this);
    }
    monitoring_ = false;
}

std::optional<KeyboardShortcutHandler::Shortcut> KeyboardShortcutHandler::decide(
    const KeyEventInfo& key) const {
    using Kind = Shortcut::Kind;
    const std::uint64_t mods = key.modifierFlags & modifier::kMask;

    if (key.keyCode) {
        const std::uint16_t code = *key.keyCode;
        for (auto action : kAllPlayControlActions) {
            const auto binding = store_.effectiveKey(action);
            if (!binding) {
                continue;
            }
            std::uint16_t expectedCode = binding->keyCode;
            std::uint64_t expectedMods = binding->modifierRawValue;
            // A Return key also answers to the keypad's Enter.
            if (binding->keyCode == keycode::kReturn && code == keycode::kKeypadEnter) {
                expectedCode = keycode::kKeypadEnter;
                expectedMods = binding->modifierRawValue & modifier::kMask;
            }
            if (expectedCode == code && expectedMods == mods) {
                return Shortcut{Kind::action, action, 0, 0};
            }
        }
    }

    if (mods & modifier::kCommand) {
        if (key.characters == "s") {
            return Shortcut{Kind::save, {}, 0, 0};
        }
        const auto bank = key.keyCode ? bankIndexForKeyCode(*key.keyCode) : std::nullopt;
        if (!bank) {
            return std::nullopt;
        }
        return Shortcut{Kind::selectBank, {}, (mods & modifier::kOption) ? *bank + 10 : *bank, 0};
    }

    if (key.keyCode) {
        switch (*key.keyCode) {
            case keycode::kLeftArrow:
                return Shortcut{Kind::moveCursor, {}, 0, -1};
            case keycode::kRightArrow:
                return Shortcut{Kind::moveCursor, {}, 0, 1};
            case keycode::kDownArrow:
                return Shortcut{Kind::moveCursor, {}, 1, 0};
            case keycode::kUpArrow:
                return Shortcut{Kind::moveCursor, {}, -1, 0};
            default:
                break;
        }
    }

    if (mods == 0) {
        if (auto slot = slotIndexForCharacter(key.characters)) {
            return Shortcut{Kind::playSlot, {}, *slot, 0};
        }
    }
    return std::nullopt;
}

bool KeyboardShortcutHandler::handle(const KeyEventInfo& key) {
    const auto shortcut = decide(key);
    if (!shortcut) {
        return false;
    }
    // A finger resting on a cue, bank or transport key must not fire it again and again.
    if (key.isAutoRepeat && shortcut->kind != Shortcut::Kind::moveCursor) {
        return true;
    }
    fire(*shortcut);
    return true;
}

void KeyboardShortcutHandler::fire(const Shortcut& shortcut) {
    auto call = [](const std::function<void()>& fn) {
        if (fn) {
            fn();
        }
    };
    switch (shortcut.kind) {
        case Shortcut::Kind::action:
            switch (shortcut.action) {
                case PlayControlAction::cutGo:
                    call(onCutGo);
                    break;
                case PlayControlAction::pause:
                    call(onPause);
                    break;
                case PlayControlAction::playAtCursor:
                    call(onEnter);
                    break;
                case PlayControlAction::standby:
                    call(onStandby);
                    break;
                case PlayControlAction::stop:
                    call(onStop);
                    break;
            }
            break;
        case Shortcut::Kind::save:
            call(onSave);
            break;
        case Shortcut::Kind::selectBank:
            if (onSelectBank) {
                onSelectBank(shortcut.first);
            }
            break;
        case Shortcut::Kind::moveCursor:
            if (onMoveCursor) {
                onMoveCursor(shortcut.first, shortcut.second);
            }
            break;
        case Shortcut::Kind::playSlot:
            if (onPlaySlot) {
                onPlaySlot(shortcut.first);
            }
            break;
    }
}

namespace {

// The widget that gets the typed keys: the application's focus widget, followed into the
// widgets a graphics view shows in its scene. The window system gives the focus to the view;
// the view hands its keys on to the scene's focus item, and a proxy item to the focus widget of
// the widget it shows.
QWidget* keyReceiver() {
    QWidget* receiver = QApplication::focusWidget();
    // Views inside views are followed too, a few deep.
    for (int depth = 0; depth < 8; ++depth) {
        auto* view = qobject_cast<QGraphicsView*>(receiver);
        QGraphicsScene* scene = view != nullptr ? view->scene() : nullptr;
        QGraphicsItem* item = scene != nullptr ? scene->focusItem() : nullptr;
        auto* proxy = item != nullptr && item->isWidget()
                          ? qobject_cast<QGraphicsProxyWidget*>(item->toGraphicsObject())
                          : nullptr;
        QWidget* shown = proxy != nullptr ? proxy->widget() : nullptr;
        QWidget* inner = shown != nullptr ? shown->focusWidget() : nullptr;
        // A widget hidden while it had the focus (a field that closes when its edit ends)
        // keeps being named as the focus widget; it takes no keys.
        if (inner == nullptr || inner == receiver || !inner->isVisible()) {
            break;
        }
        receiver = inner;
    }
    return receiver;
}

}  // namespace

bool KeyboardShortcutHandler::keysGoElsewhere() {
    // A modal window, or an open menu or popup, takes every key.
    if (QApplication::activeModalWidget() != nullptr ||
        QApplication::activePopupWidget() != nullptr) {
        return true;
    }
    const QWidget* receiver = keyReceiver();
    return receiver != nullptr && takesText(receiver);
}

KeyboardShortcutHandler::Press KeyboardShortcutHandler::pressOf(const QObject* watched,
                                                                const QKeyEvent& event) {
    Press press;
    press.event = &event;
    press.firstReceiver = watched;
    press.type = int(event.type());
    press.timestamp = event.timestamp();
    press.key = event.key();
    press.scanCode = event.nativeScanCode();
    press.modifiers = int(event.modifiers().toInt());
    press.autoRepeat = event.isAutoRepeat();
    return press;
}

bool KeyboardShortcutHandler::samePress(const Press& a, const Press& b) {
    return a.event == b.event && a.type == b.type && a.timestamp == b.timestamp && a.key == b.key &&
           a.scanCode == b.scanCode && a.modifiers == b.modifiers && a.autoRepeat == b.autoRepeat;
}

bool KeyboardShortcutHandler::eventFilter(QObject* watched, QEvent* event) {
    const auto type = event->type();
    if (type == QEvent::KeyRelease) {
        const auto& release = *static_cast<QKeyEvent*>(event);
        lastRelease_ = {release.key(), release.timestamp()};
    }
    if (type != QEvent::KeyPress && type != QEvent::ShortcutOverride) {
        return QObject::eventFilter(watched, event);
    }
    if (!isEnabled) {
        return false;
    }
    const auto& keyEvent = *static_cast<QKeyEvent*>(event);
    // The window system hands a press to a window, the window to its focus widget, a view on
    // to the widgets it shows, and a key nobody takes goes up to the parents: all one press.
    // What it is for was settled when it came in; a field that ends its typing on it may hide
    // itself or close its popup on the way, and the key stays the field's.
    // (A step on the way may run events of its own, other presses among them: the last few
    // are kept.)
    Press press = pressOf(watched, keyEvent);
    const auto seen = std::find_if(presses_.begin(), presses_.end(), [&](const Press& earlier) {
        return samePress(earlier, press) && !watched->isWindowType() &&
               watched != earlier.firstReceiver;
    });
    if (seen != presses_.end()) {
        press = *seen;
    } else {
        press.keysGoElsewhere = keysGoElsewhere();
        presses_[nextPress_] = press;
        nextPress_ = (nextPress_ + 1) % presses_.size();
    }
    if (press.keysGoElsewhere) {
        return false;
    }
    KeyEventInfo key = translateKeyEvent(keyEvent);
    // A held key comes again as a release and a press at the same moment; the window system
    // does not always say that they are a repeat.
    key.isAutoRepeat =
        key.isAutoRepeat || (keyEvent.timestamp() != 0 && lastRelease_.key == keyEvent.key() &&
                             lastRelease_.timestamp == keyEvent.timestamp());
    if (type == QEvent::ShortcutOverride) {
        // Claim the key before a menu shortcut can take it; the press follows.
        if (decide(key)) {
            event->accept();
            return true;
        }
        return false;
    }
    if (!handle(key)) {
        return false;
    }
    // Used up: a key that a field ignored and that goes up to its parents stops here.
    event->accept();
    return true;
}

}  // namespace kestio
