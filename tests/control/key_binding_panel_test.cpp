#include "control/key_binding_panel_controller.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QToolButton>

#include "control/key_binding_settings_view.h"
#include "control/key_codes.h"
#include "control/keyboard_shortcut_handler.h"
#include "control_test_support.h"
#include "platform/runloop/manual_run_loop.h"
#include "platform/storage/settings_user_defaults.h"

namespace kestio {
namespace {

using A = PlayControlAction;

// evdev codes
constexpr std::uint32_t kEvSpace = 57, kEvA = 30, kEvEsc = 1, kEvBackspace = 14, kEvKpEnter = 96,
                        kEvLeftShift = 42, kEvF5 = 63, kEvDelete = 111;

class KeyBindingPanelTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::setLanguage(AppLanguage::en);
        controller_.show();
        ASSERT_NE(controller_.view(), nullptr);
    }

    KeyBindingSettingsView& view() { return *controller_.view(); }
    QPushButton* keyButton(A action) {
        return view().findChild<QPushButton*>(QStringLiteral("key_") +
                                              QString::fromLatin1(rawValue(action).data()));
    }
    QToolButton* clearButton(A action) {
        return view().findChild<QToolButton*>(QStringLiteral("clear_") +
                                              QString::fromLatin1(rawValue(action).data()));
    }
    QString error() {
        auto* label = view().findChild<QLabel*>("error");
        return label->isVisibleTo(&view()) ? label->text() : QString();
    }
    // A key press as X11 delivers it, to the panel, then the deferred steps.
    void press(int key, std::uint32_t evdev, Qt::KeyboardModifiers mods = {}, QString text = {}) {
        QKeyEvent event(QEvent::KeyPress, key, mods, evdev + 8, 0, 0, text);
        QApplication::sendEvent(controller_.panel(), &event);
        loop_.runPending();
    }
    void record(A action, int key, std::uint32_t evdev, Qt::KeyboardModifiers mods = {}) {
        keyButton(action)->click();
        ASSERT_EQ(view().recordingAction(), action);
        press(key, evdev, mods);
    }

    platform::InMemoryUserDefaults defaults_;
    KeyBindingStore store_{defaults_};
    platform::ManualRunLoop loop_;
    KeyBindingPanelController controller_{store_, loop_};
};

TEST_F(KeyBindingPanelTest, ShowsTheEffectiveKeyOfEveryAction) {
    EXPECT_EQ(controller_.panel()->windowTitle(), "Key Bindings");
    EXPECT_EQ(controller_.panel()->width(), 420);
    EXPECT_GE(controller_.panel()->height(), 320);
    EXPECT_EQ(keyButton(A::cutGo)->text(), "Space");
    EXPECT_EQ(keyButton(A::pause)->text(), "Shift+Space");
    EXPECT_EQ(keyButton(A::playAtCursor)->text(), "Return");
    EXPECT_EQ(keyButton(A::standby)->text(), "Shift+Return");
    EXPECT_EQ(keyButton(A::stop)->text(), "Not Assigned");
    EXPECT_TRUE(clearButton(A::cutGo)->isVisibleTo(&view()));
    EXPECT_FALSE(clearButton(A::stop)->isVisibleTo(&view()));
    EXPECT_EQ(clearButton(A::cutGo)->toolTip(), "Set to Not Assigned");

    test::setLanguage(AppLanguage::ja);
    EXPECT_EQ(controller_.panel()->windowTitle(), "キーバインド設定");
    EXPECT_EQ(keyButton(A::stop)->text(), "未割り当て");
    EXPECT_EQ(view().findChild<QLabel*>("title_pause")->text(), "一時停止");
    for (auto* label : view().findChildren<QLabel*>()) {
        EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->objectName().toStdString();
    }
}

TEST_F(KeyBindingPanelTest, ARecordedKeyIsStoredAndShown) {
    keyButton(A::stop)->click();
    EXPECT_EQ(keyButton(A::stop)->text(), "Press a key...");
    press(Qt::Key_Shift, kEvLeftShift, Qt::ShiftModifier);
    EXPECT_EQ(view().recordingAction(), A::stop) << "a lone modifier keeps the recording on";
    press(Qt::Key_F5, kEvF5, Qt::ShiftModifier);
    EXPECT_EQ(view().recordingAction(), std::nullopt);
    EXPECT_EQ(keyButton(A::stop)->text(), "Shift+F5");
    EXPECT_EQ(defaults_.uintMapMap("playControlKeyBindings"),
              (platform::UIntMapMap{{"stop", {{"keyCode", 96}, {"modifiers", 131072}}}}));

    record(A::playAtCursor, Qt::Key_Enter, kEvKpEnter, Qt::KeypadModifier);
    EXPECT_EQ(store_.effectiveKey(A::playAtCursor), (KeyBinding{keycode::kKeypadEnter, 0}));
    EXPECT_EQ(keyButton(A::playAtCursor)->text(), "Enter");
}

TEST_F(KeyBindingPanelTest, RefusalsAreShownAndKeepTheOldKey) {
    record(A::stop, Qt::Key_A, kEvA);
    EXPECT_EQ(error(), "This key is reserved for slot playback / cursor movement");
    EXPECT_EQ(store_.effectiveKey(A::stop), std::nullopt);

    record(A::pause, Qt::Key_Space, kEvSpace);
    EXPECT_EQ(error(),
              "Already assigned to \"Cut Go (advance to next slot and play, black if empty)\"");
    EXPECT_EQ(keyButton(A::pause)->text(), "Shift+Space");

    keyButton(A::stop)->click();  // a new recording clears the message
    EXPECT_EQ(error(), "");
}

TEST_F(KeyBindingPanelTest, EscCancelsBackspaceOrDeleteUnassigns) {
    record(A::cutGo, Qt::Key_Escape, kEvEsc);
    EXPECT_EQ(view().recordingAction(), std::nullopt);
    EXPECT_EQ(keyButton(A::cutGo)->text(), "Space");

    record(A::cutGo, Qt::Key_Backspace, kEvBackspace, Qt::ControlModifier);
    EXPECT_EQ(keyButton(A::cutGo)->text(), "Not Assigned");
    EXPECT_FALSE(clearButton(A::cutGo)->isVisibleTo(&view()));

    record(A::pause, Qt::Key_Delete, kEvDelete);
    EXPECT_EQ(store_.effectiveKey(A::pause), std::nullopt);
}

TEST_F(KeyBindingPanelTest, TheClearButtonAndResetWork) {
    record(A::stop, Qt::Key_A, kEvA);  // leaves a message
    clearButton(A::standby)->click();
    EXPECT_EQ(keyButton(A::standby)->text(), "Not Assigned");
    EXPECT_FALSE(error().isEmpty()) << "the clear button leaves the message";

    record(A::stop, Qt::Key_F5, kEvF5);
    view().findChild<QPushButton*>("reset")->click();
    EXPECT_EQ(error(), "");
    EXPECT_EQ(keyButton(A::cutGo)->text(), "Space");
    EXPECT_EQ(keyButton(A::pause)->text(), "Shift+Space");
    EXPECT_EQ(keyButton(A::playAtCursor)->text(), "Return");
    EXPECT_EQ(keyButton(A::standby)->text(), "Shift+Return");
    EXPECT_EQ(keyButton(A::stop)->text(), "Not Assigned");
}

TEST_F(KeyBindingPanelTest, WhileRecordingNoShowActionFires) {
    KeyboardShortcutHandler handler(store_);
    handler.start();
    int cutGo = 0;
    handler.onCutGo = [&] { ++cutGo; };
    press(Qt::Key_Space, kEvSpace, {}, " ");
    EXPECT_EQ(cutGo, 1);

    controller_.show();  // hide
    controller_.show();  // a new panel, recorded after the handler started
    keyButton(A::stop)->click();
    press(Qt::Key_Space, kEvSpace, {}, " ");
    EXPECT_EQ(cutGo, 1);
    EXPECT_EQ(error(),
              "Already assigned to \"Cut Go (advance to next slot and play, black if empty)\"");
}

TEST_F(KeyBindingPanelTest, TheMenuCommandTogglesAndBuildsAFreshPanel) {
    QPointer<QWidget> first = controller_.panel();
    keyButton(A::stop)->click();
    controller_.show();
    EXPECT_FALSE(first->isVisible());
    EXPECT_EQ(controller_.view()->recordingAction(), std::nullopt) << "hiding stops recording";
    controller_.show();
    EXPECT_TRUE(first.isNull()) << "the earlier panel is released";
    ASSERT_NE(controller_.panel(), nullptr);
    EXPECT_TRUE(controller_.panel()->isVisible());

    controller_.panel()->close();  // the title bar's close button
    controller_.show();
    EXPECT_TRUE(controller_.panel()->isVisible());
}

TEST_F(KeyBindingPanelTest, RendersInBothLanguages) {
    auto shoot = [this](const std::string& name) {
        for (AppLanguage language : kAllAppLanguages) {
            test::setLanguage(language);
            QApplication::processEvents();
            const QImage shot = controller_.panel()->grab().toImage();
            ASSERT_FALSE(shot.isNull());
            const auto file =
                test::testOutputDir() / (name + "-" + std::string(rawValue(language)) + ".png");
            EXPECT_TRUE(shot.save(QString::fromStdString(file.string())));
            EXPECT_EQ(shot.pixelColor(2, shot.height() - 2), QColor(36, 36, 36));
        }
    };
    record(A::stop, Qt::Key_A, kEvA);
    shoot("key-bindings");
    keyButton(A::pause)->click();
    shoot("key-bindings-recording");
}

TEST(KeyBindingPanelRestart, AnEditedBindingSurvivesARestart) {
    test::setLanguage(AppLanguage::en);
    const auto file = test::configHome() / "Kestio" / "Kestio.ini";
    platform::ManualRunLoop loop;
    {
        platform::SettingsUserDefaults settings(file);
        KeyBindingStore store(settings);
        KeyBindingPanelController controller(store, loop);
        controller.show();
        controller.panel()->findChild<QPushButton*>("key_stop")->click();
        QKeyEvent f5(QEvent::KeyPress, Qt::Key_F5, Qt::ControlModifier, kEvF5 + 8, 0, 0);
        QApplication::sendEvent(controller.panel(), &f5);
        loop.runPending();
        controller.panel()->findChild<QToolButton*>("clear_cutGo")->click();
    }
    ASSERT_EQ(file, platform::SettingsUserDefaults::defaultFile());
    platform::SettingsUserDefaults settings(platform::SettingsUserDefaults::defaultFile());
    KeyBindingStore store(settings);
    EXPECT_EQ(store.effectiveKey(A::stop), (KeyBinding{keycode::kF5, modifier::kCommand}));
    EXPECT_EQ(store.effectiveKey(A::cutGo), std::nullopt);
    KeyBindingPanelController controller(store, loop);
    controller.show();
    EXPECT_EQ(controller.panel()->findChild<QPushButton*>("key_stop")->text(), "Ctrl+F5");
}

}  // namespace
}  // namespace kestio
