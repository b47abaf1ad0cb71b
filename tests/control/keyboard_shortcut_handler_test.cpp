#include "control/keyboard_shortcut_handler.h"

#include <gtest/gtest.h>

#include <functional>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QGraphicsProxyWidget>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTextEdit>
#include <QTimer>
#include <QVBoxLayout>

#include "control/key_codes.h"
#include "control_test_support.h"

namespace kestio {
namespace {

using namespace modifier;
using A = PlayControlAction;

// evdev codes of the keys used below.
enum Evdev : std::uint32_t {
    kEv1 = 2,
    kEv3 = 4,
    kEvQ = 16,
    kEvS = 31,
    kEvC = 46,
    kEvEnter = 28,
    kEvSpace = 57,
    kEvF5 = 63,
    kEvKpEnter = 96,
    kEvLeft = 105,
    kEvUp = 103,
    kEvDown = 108,
    kEvRight = 106,
    kEvA = 30,
    kEvEsc = 1
};

// A key event as X11 delivers it (scan code = evdev + 8).
QKeyEvent press(int key, std::uint32_t evdev, Qt::KeyboardModifiers mods = {}, QString text = {},
                QEvent::Type type = QEvent::KeyPress) {
    return QKeyEvent(type, key, mods, evdev + 8, 0, 0, text);
}

// A widget that counts the key presses that reach it.
class Probe : public QWidget {
  public:
    int presses = 0;

  protected:
    void keyPressEvent(QKeyEvent* event) override {
        ++presses;
        event->accept();
    }
};

class KeyboardShortcutHandlerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        handler_.onPlaySlot = [this](int s) { log_.push_back("slot " + std::to_string(s)); };
        handler_.onCutGo = [this] { log_.push_back("cutGo"); };
        handler_.onPause = [this] { log_.push_back("pause"); };
        handler_.onMoveCursor = [this](int r, int c) {
            log_.push_back("move " + std::to_string(r) + " " + std::to_string(c));
        };
        handler_.onEnter = [this] { log_.push_back("enter"); };
        handler_.onStandby = [this] { log_.push_back("standby"); };
        handler_.onStop = [this] { log_.push_back("stop"); };
        handler_.onSave = [this] { log_.push_back("save"); };
        handler_.onSelectBank = [this](int b) { log_.push_back("bank " + std::to_string(b)); };
        window_.resize(200, 100);
        window_.show();
        probe_.setFocus();
        QApplication::processEvents();
    }

    // Delivers a key press to the focused widget as the application does; true if it got
    // there (it was not swallowed).
    bool deliver(QKeyEvent&& event) {
        const int before = probe_.presses;
        QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : &probe_;
        QApplication::sendEvent(target, &event);
        return probe_.presses > before || target != &probe_;
    }
    // One key press; the log line it produced ("" for none).
    std::string fired(QKeyEvent&& event) {
        log_.clear();
        deliver(std::move(event));
        EXPECT_LE(log_.size(), 1u);
        return log_.empty() ? "" : log_.front();
    }

    platform::InMemoryUserDefaults defaults_;
    KeyBindingStore store_{defaults_};
    KeyboardShortcutHandler handler_{store_};
    QWidget window_;
    Probe& probe_ = *new Probe;
    std::vector<std::string> log_;

  public:
    KeyboardShortcutHandlerTest() {
        auto* layout = new QVBoxLayout(&window_);
        layout->addWidget(&probe_);
        probe_.setFocusPolicy(Qt::StrongFocus);
        handler_.start();
    }
};

TEST_F(KeyboardShortcutHandlerTest, DefaultPlayControlKeysFireTheirActions) {
    EXPECT_EQ(fired(press(Qt::Key_Space, kEvSpace, {}, " ")), "cutGo");
    EXPECT_EQ(fired(press(Qt::Key_Space, kEvSpace, Qt::ShiftModifier, " ")), "pause");
    EXPECT_EQ(fired(press(Qt::Key_Space, kEvSpace, Qt::AltModifier, " ")), "");
    EXPECT_EQ(fired(press(Qt::Key_Return, kEvEnter, {}, "\r")), "enter");
    EXPECT_EQ(fired(press(Qt::Key_Enter, kEvKpEnter, Qt::KeypadModifier, "\r")), "enter");
    EXPECT_EQ(fired(press(Qt::Key_Return, kEvEnter, Qt::ShiftModifier, "\r")), "standby");
    EXPECT_EQ(fired(press(Qt::Key_Enter, kEvKpEnter, Qt::ShiftModifier | Qt::KeypadModifier)),
              "standby");
}

TEST_F(KeyboardShortcutHandlerTest, HandledKeysAreSwallowedOthersGoOn) {
    EXPECT_FALSE(deliver(press(Qt::Key_Space, kEvSpace, {}, " ")));
    EXPECT_TRUE(deliver(press(Qt::Key_Equal, 13, {}, "=")));
    // A shortcut whose callback is not set is still swallowed.
    handler_.onCutGo = nullptr;
    EXPECT_FALSE(deliver(press(Qt::Key_Space, kEvSpace, {}, " ")));
}

TEST_F(KeyboardShortcutHandlerTest, UserBindingsAreReadAtEveryPress) {
    store_.unassign(A::cutGo);
    EXPECT_EQ(fired(press(Qt::Key_Space, kEvSpace, {}, " ")), "");
    ASSERT_EQ(store_.assign(keycode::kF5, 0, A::stop), std::nullopt);
    EXPECT_EQ(fired(press(Qt::Key_F5, kEvF5)), "stop");
    EXPECT_EQ(fired(press(Qt::Key_F5, kEvF5, Qt::ShiftModifier)), "");
    // A binding beats the fixed shortcuts.
    ASSERT_EQ(store_.assign(20, kCommand, A::pause), std::nullopt);
    EXPECT_EQ(fired(press(Qt::Key_3, kEv3, Qt::ControlModifier, "3")), "pause");
}

TEST_F(KeyboardShortcutHandlerTest, KeypadEnterTakesTheFirstActionOnReturnOrOnItself) {
    ASSERT_EQ(store_.assign(keycode::kKeypadEnter, 0, A::standby), std::nullopt);
    EXPECT_EQ(fired(press(Qt::Key_Enter, kEvKpEnter, Qt::KeypadModifier)), "enter");
}

TEST_F(KeyboardShortcutHandlerTest, CtrlSavesAndSelectsBanksByPosition) {
    EXPECT_EQ(fired(press(Qt::Key_S, kEvS, Qt::ControlModifier, "\x13")), "save");
    EXPECT_EQ(fired(press(Qt::Key_S, kEvS, Qt::ControlModifier | Qt::ShiftModifier)), "save");
    EXPECT_EQ(fired(press(Qt::Key_3, kEv3, Qt::ControlModifier, "3")), "bank 2");
    EXPECT_EQ(fired(press(Qt::Key_3, kEv3, Qt::ControlModifier | Qt::AltModifier, "3")), "bank 12");
    EXPECT_EQ(fired(press(Qt::Key_1, kEv1, Qt::ControlModifier | Qt::ShiftModifier, "!")),
              "bank 0");
    EXPECT_EQ(fired(press(Qt::Key_Q, kEvQ, Qt::ControlModifier)), "");
    EXPECT_EQ(fired(press(Qt::Key_C, kEvC, Qt::ControlModifier)), "");
}

TEST_F(KeyboardShortcutHandlerTest, ArrowsMoveTheCursorUnlessCtrlIsHeld) {
    EXPECT_EQ(fired(press(Qt::Key_Left, kEvLeft)), "move 0 -1");
    EXPECT_EQ(fired(press(Qt::Key_Right, kEvRight, Qt::ShiftModifier)), "move 0 1");
    EXPECT_EQ(fired(press(Qt::Key_Down, kEvDown, Qt::AltModifier)), "move 1 0");
    EXPECT_EQ(fired(press(Qt::Key_Up, kEvUp, Qt::MetaModifier)), "move -1 0");
    EXPECT_EQ(fired(press(Qt::Key_Left, kEvLeft, Qt::ControlModifier)), "");
}

TEST_F(KeyboardShortcutHandlerTest, SlotKeysFollowTheCharacterWithoutModifiers) {
    EXPECT_EQ(fired(press(Qt::Key_Q, kEvQ, {}, "q")), "slot 10");
    EXPECT_EQ(fired(press(Qt::Key_Q, kEvQ, {}, "Q")), "slot 10");  // Caps Lock
    EXPECT_EQ(fired(press(Qt::Key_Q, kEvQ, Qt::ShiftModifier, "Q")), "");
    EXPECT_EQ(fired(press(Qt::Key_1, kEv1, {}, "1")), "slot 0");
    EXPECT_EQ(fired(press(Qt::Key_Slash, 53, {}, "/")), "slot 39");
    // Without a scan code (as under test drivers) the Qt key still finds its way.
    EXPECT_EQ(fired(QKeyEvent(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, "a")), "slot 20");
    EXPECT_EQ(fired(QKeyEvent(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, " ")), "cutGo");
}

TEST_F(KeyboardShortcutHandlerTest, TextFieldsAndModalWindowsKeepTheirKeys) {
    auto* field = new QLineEdit(&window_);
    window_.layout()->addWidget(field);
    field->setFocus();
    QApplication::processEvents();
    ASSERT_EQ(QApplication::focusWidget(), field);
    EXPECT_EQ(fired(press(Qt::Key_Space, kEvSpace, {}, " ")), "");
    EXPECT_EQ(fired(press(Qt::Key_Q, kEvQ, {}, "q")), "");
    EXPECT_EQ(field->text(), " q");
    probe_.setFocus();

    QDialog dialog(&window_);
    bool sawKeyWhileModal = false;
    QTimer::singleShot(0, &dialog, [&] {
        log_.clear();
        auto event = press(Qt::Key_Space, kEvSpace, {}, " ");
        QApplication::sendEvent(&dialog, &event);
        sawKeyWhileModal = log_.empty();
        dialog.reject();
    });
    dialog.exec();
    EXPECT_TRUE(sawKeyWhileModal);
}

// `panel` shown through a graphics view in `window`, the view holding the window's focus as the
// main window's canvas does; the panel leaves the scene with it.
struct ShownThroughAView {
    ShownThroughAView(QWidget& shown, QWidget& window) : panel(shown), view(&scene, &window) {
        scene.addWidget(&panel);
        window.layout()->addWidget(&view);
        view.show();
        view.setFocus();
    }
    ~ShownThroughAView() { scene.removeItem(panel.graphicsProxyWidget()); }

    QWidget& panel;
    QGraphicsScene scene;
    QGraphicsView view;
};

// The main window shows its panels through a graphics view, which has the window's focus and
// hands its keys on to the focused widget of the panel it shows.
TEST_F(KeyboardShortcutHandlerTest, TextFieldsShownThroughAGraphicsViewKeepTheirKeys) {
    struct Case {
        const char* what;
        std::function<QWidget*()> make;
        std::function<QString(QWidget*)> text;  // null for a control that takes no text
    };
    const auto editable = [] {
        auto* combo = new QComboBox;
        combo->setEditable(true);
        return combo;
    };
    const Case cases[] = {
        {"line edit", [] { return new QLineEdit; },
         [](QWidget* w) { return static_cast<QLineEdit*>(w)->text(); }},
        // The digits go in before the 0 the box shows.
        {"spin box",
         [] {
             auto* box = new QSpinBox;
             box->setRange(0, 999);
             return box;
         },
         [](QWidget* w) { return QString::number(static_cast<QSpinBox*>(w)->value() / 10); }},
        {"plain text edit", [] { return new QPlainTextEdit; },
         [](QWidget* w) { return static_cast<QPlainTextEdit*>(w)->toPlainText(); }},
        {"text edit", [] { return new QTextEdit; },
         [](QWidget* w) { return static_cast<QTextEdit*>(w)->toPlainText(); }},
        {"editable combo box", editable,
         [](QWidget* w) { return static_cast<QComboBox*>(w)->currentText(); }},
        {"push button", [] { return new QPushButton("OK"); }, nullptr},
        {"fixed combo box", [] { return new QComboBox; }, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QWidget panel;
        auto* layout = new QVBoxLayout(&panel);
        QWidget* widget = c.make();
        layout->addWidget(widget);
        const ShownThroughAView shown(panel, window_);
        widget->setFocus();
        QApplication::processEvents();
        ASSERT_EQ(QApplication::focusWidget(), &shown.view);
        ASSERT_TRUE(widget->hasFocus() || widget->focusProxy() != nullptr ||
                    panel.focusWidget() != nullptr);

        EXPECT_EQ(fired(press(Qt::Key_2, 3, {}, "2")), c.text ? "" : "slot 1");
        EXPECT_EQ(fired(press(Qt::Key_1, kEv1, {}, "1")), c.text ? "" : "slot 0");
        if (c.text) {
            EXPECT_EQ(c.text(widget), "21");
        }
        probe_.setFocus();
    }
}

// A readout that becomes a field while it is edited hides its field when the edit ends; the
// keys then belong to the show again.
TEST_F(KeyboardShortcutHandlerTest, AFieldHiddenAfterItsEditLeavesTheKeysToTheShow) {
    QWidget panel;
    auto* layout = new QVBoxLayout(&panel);
    auto* field = new QLineEdit;
    layout->addWidget(field);
    const ShownThroughAView shown(panel, window_);
    field->setFocus();
    QApplication::processEvents();
    ASSERT_EQ(QApplication::focusWidget(), &shown.view);
    EXPECT_EQ(fired(press(Qt::Key_2, 3, {}, "2")), "");
    field->hide();
    QApplication::processEvents();
    EXPECT_EQ(fired(press(Qt::Key_2, 3, {}, "2")), "slot 1");
    probe_.setFocus();
}

// A field whose typing ends on a key, and that hides itself as it ends, ignoring the key (as a
// line edit ignores Return): the key then goes on up to the field's parents.
class ClosingField : public QLineEdit {
  public:
    int ended = 0;

  protected:
    void keyPressEvent(QKeyEvent* event) override {
        ++ended;
        hide();
        event->ignore();
    }
};

// Every key that ends typing stays the field's, however the field's parents see it after the
// field has gone: the press was judged as it came in.
TEST_F(KeyboardShortcutHandlerTest, TheKeyThatEndsAFieldsTypingStaysTheFields) {
    const struct {
        const char* what;
        int key;
        std::uint32_t evdev;
        Qt::KeyboardModifiers mods;
    } endings[] = {
        {"Return", Qt::Key_Return, kEvEnter, {}},
        {"keypad Enter", Qt::Key_Enter, kEvKpEnter, Qt::KeypadModifier},
        {"Shift+Return", Qt::Key_Return, kEvEnter, Qt::ShiftModifier},
        {"Escape", Qt::Key_Escape, kEvEsc, {}},
        {"Tab", Qt::Key_Tab, 15, {}},
        {"Shift+Tab", Qt::Key_Backtab, 15, Qt::ShiftModifier},
    };
    // A key that is no play-control key by default is bound to STOP, so that a key leaking to
    // the show is seen.
    for (const auto& ending : endings) {
        SCOPED_TRACE(ending.what);
        if (ending.key == Qt::Key_Escape || ending.key == Qt::Key_Tab ||
            ending.key == Qt::Key_Backtab) {
            store_.resetToDefaults();
            ASSERT_EQ(store_.assign(*keyCodeForScanCode(ending.evdev + 8),
                                    modifierFlagsFor(ending.mods), A::stop),
                      std::nullopt);
        }
        QWidget panel;
        auto* layout = new QVBoxLayout(&panel);
        auto* field = new ClosingField;
        layout->addWidget(field);
        const ShownThroughAView shown(panel, window_);
        field->setFocus();
        QApplication::processEvents();
        // Each press has its own time, as the window system gives it.
        const auto pressAt = [&](std::uint64_t time) {
            auto event = press(ending.key, ending.evdev, ending.mods, "\r");
            event.setTimestamp(time);
            return fired(std::move(event));
        };
        EXPECT_EQ(pressAt(1000), "");
        EXPECT_EQ(field->ended, 1);
        // The next press is the show's, wherever the focus went.
        EXPECT_NE(pressAt(1100), "");
        probe_.setFocus();
    }
}

// A resting finger repeats a key: only the arrows move on; every other shortcut fires once and
// its repeats are swallowed. A repeat comes flagged, or as a release and a press at one moment.
TEST_F(KeyboardShortcutHandlerTest, AHeldKeyFiresOnceButTheArrowsRepeat) {
    const struct {
        const char* what;
        int key;
        std::uint32_t evdev;
        Qt::KeyboardModifiers mods;
        QString text;
        std::string fires;
        bool repeats;
    } keys[] = {
        {"slot key", Qt::Key_3, kEv3, {}, "3", "slot 2", false},
        {"Cut Go", Qt::Key_Space, kEvSpace, {}, " ", "cutGo", false},
        {"Play at Cursor", Qt::Key_Return, kEvEnter, {}, "\r", "enter", false},
        {"bank key", Qt::Key_3, kEv3, Qt::ControlModifier, {}, "bank 2", false},
        {"arrow", Qt::Key_Down, kEvDown, {}, {}, "move 1 0", true},
    };
    for (const auto& k : keys) {
        SCOPED_TRACE(k.what);
        const std::string again = k.repeats ? k.fires : "";
        EXPECT_EQ(fired(QKeyEvent(QEvent::KeyPress, k.key, k.mods, k.evdev + 8, 0, 0, k.text)),
                  k.fires);
        EXPECT_EQ(
            fired(QKeyEvent(QEvent::KeyPress, k.key, k.mods, k.evdev + 8, 0, 0, k.text, true)),
            again);
        EXPECT_FALSE(
            deliver(QKeyEvent(QEvent::KeyPress, k.key, k.mods, k.evdev + 8, 0, 0, k.text, true)))
            << "a repeat is swallowed";
        // Unflagged: the release and the press that follows it carry the same time.
        for (const std::uint64_t pressedAt : {std::uint64_t(5000), std::uint64_t(5040)}) {
            QKeyEvent release(QEvent::KeyRelease, k.key, k.mods, k.evdev + 8, 0, 0, k.text);
            release.setTimestamp(5000);
            QApplication::sendEvent(&probe_, &release);
            QKeyEvent pressed(QEvent::KeyPress, k.key, k.mods, k.evdev + 8, 0, 0, k.text);
            pressed.setTimestamp(pressedAt);
            EXPECT_EQ(fired(std::move(pressed)), pressedAt == 5000 ? again : k.fires);
        }
    }
}

TEST_F(KeyboardShortcutHandlerTest, AnOpenMenuKeepsTheKeys) {
    QMenu menu(&window_);
    menu.addAction("Level");
    menu.popup(window_.mapToGlobal(QPoint(10, 10)));
    QApplication::processEvents();
    ASSERT_EQ(QApplication::activePopupWidget(), &menu);
    log_.clear();
    auto event = press(Qt::Key_Space, kEvSpace, {}, " ");
    QApplication::sendEvent(&menu, &event);
    EXPECT_TRUE(log_.empty());
    menu.close();
    QApplication::processEvents();
    EXPECT_EQ(fired(press(Qt::Key_Space, kEvSpace, {}, " ")), "cutGo");
}

TEST_F(KeyboardShortcutHandlerTest, DisabledOrStoppedHandlersLetEverythingThrough) {
    handler_.isEnabled = false;
    EXPECT_EQ(fired(press(Qt::Key_Space, kEvSpace, {}, " ")), "");
    handler_.isEnabled = true;
    handler_.stop();
    EXPECT_TRUE(handler_.isActive.get()) << "stopping leaves isActive as it was";
    EXPECT_TRUE(deliver(press(Qt::Key_Space, kEvSpace, {}, " ")));
    EXPECT_TRUE(log_.empty());
}

TEST_F(KeyboardShortcutHandlerTest, AHandledKeyBeatsAMenuShortcutAndOthersStillReachIt) {
    QMainWindow main;
    int quitTriggered = 0;
    int spaceTriggered = 0;
    auto* quit = main.addAction("Quit");
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    QObject::connect(quit, &QAction::triggered, [&] { ++quitTriggered; });
    auto* space = main.addAction("Space");
    space->setShortcut(QKeySequence(Qt::Key_Space));
    QObject::connect(space, &QAction::triggered, [&] { ++spaceTriggered; });
    main.show();
    main.activateWindow();
    QApplication::processEvents();

    auto overrideSpace = press(Qt::Key_Space, kEvSpace, {}, " ", QEvent::ShortcutOverride);
    overrideSpace.ignore();
    QApplication::sendEvent(&main, &overrideSpace);
    EXPECT_TRUE(overrideSpace.isAccepted()) << "the handler claims Space before the menu";

    auto overrideQuit = press(Qt::Key_Q, kEvQ, Qt::ControlModifier, {}, QEvent::ShortcutOverride);
    overrideQuit.ignore();
    QApplication::sendEvent(&main, &overrideQuit);
    EXPECT_FALSE(overrideQuit.isAccepted()) << "Ctrl+Q is left to the menu";
    EXPECT_TRUE(log_.empty()) << "deciding alone fires nothing";
}

}  // namespace
}  // namespace kestio
