#include "platform/ui/qt_dialog_presenter.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

namespace kestio::platform {
namespace {

// Runs `answer` on the modal window once it is up.
void whenModal(std::function<void(QWidget*)> answer) {
    QTimer::singleShot(0, [answer] {
        QWidget* modal = QApplication::activeModalWidget();
        ASSERT_NE(modal, nullptr);
        answer(modal);
    });
}

// A key pressed and released on `widget`; what it leaves unhandled goes to its parents.
void pressKey(QWidget* widget, Qt::Key key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
    QApplication::sendEvent(widget, &release);
}

TEST(QtDialogPresenter, AnAlertAnswersTheIndexOfTheButtonPressed) {
    QtDialogPresenter dialogs;
    whenModal([](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->text(), "Close Project?");
        for (auto* button : box->buttons()) {
            if (button->text() == "Cancel") {
                button->click();
            }
        }
    });
    EXPECT_EQ(dialogs.alert(DialogPresenter::AlertStyle::warning, "Close Project?", "Sure?",
                            {"Close", "Cancel"}),
              1);
}

// Every line of an alert's informative text stands whole (a Japanese line too, which could
// break between any two characters): none wraps in the middle of a word.
TEST(QtDialogPresenter, AnAlertKeepsEachLineOfItsInformativeTextWhole) {
    QtDialogPresenter dialogs;
    const std::string lines[] = {
        "全スロットのデコーダを起動します。\n再生中のクリップは停止します。",
        "This will start the decoder for every slot.\nAny clip currently playing will be "
        "stopped."};
    for (const std::string& informative : lines) {
        whenModal([](QWidget* modal) {
            auto* label = modal->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"));
            ASSERT_NE(label, nullptr);
            const QFontMetrics metrics(label->font());
            for (const QString& line : label->text().split(QLatin1Char('\n'))) {
                EXPECT_LE(metrics.horizontalAdvance(line), label->contentsRect().width())
                    << line.toStdString();
            }
            qobject_cast<QMessageBox*>(modal)->buttons().front()->click();
        });
        dialogs.alert(DialogPresenter::AlertStyle::informational, "ウォームアップを実行しますか？",
                      informative, {"実行", "キャンセル"});
    }
}

// Return and Escape on an alert, sent where the keyboard focus is: Return never presses a
// destructive button, Escape presses the cancel button.
TEST(QtDialogPresenter, ReturnAndEscapeFollowTheButtonRoles) {
    using Role = DialogPresenter::ButtonRole;
    const DialogPresenter::AlertButton clear("Clear", Role::destructive);
    const DialogPresenter::AlertButton cancel("Cancel", Role::cancel);
    struct Case {
        const char* what;
        std::vector<DialogPresenter::AlertButton> buttons;
        Qt::Key key;
        int answer;
    };
    const Case cases[] = {
        {"destructive confirmation, Return", {clear, cancel}, Qt::Key_Return, 1},
        {"destructive confirmation, Enter", {clear, cancel}, Qt::Key_Enter, 1},
        {"destructive confirmation, Escape", {clear, cancel}, Qt::Key_Escape, 1},
        {"quit, Return",
         {"Save and Quit", {"Don't Save", Role::destructive}, cancel},
         Qt::Key_Return,
         0},
        {"quit, Escape",
         {"Save and Quit", {"Don't Save", Role::destructive}, cancel},
         Qt::Key_Escape,
         2},
        {"question, Return", {"Run", cancel}, Qt::Key_Return, 0},
        {"question, Escape", {"Run", cancel}, Qt::Key_Escape, 1},
        {"plain buttons, Return", {"Close", "Cancel"}, Qt::Key_Return, 0},
        {"plain buttons, Escape", {"Close", "Cancel"}, Qt::Key_Escape, 1},
        {"OK only, Return", {}, Qt::Key_Return, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QtDialogPresenter dialogs;
        whenModal([key = c.key](QWidget* modal) {
            QWidget* focused = modal->focusWidget() ? modal->focusWidget() : modal;
            pressKey(focused, key);
            // A key that answered nothing fails the case instead of holding the test.
            QTimer::singleShot(2000, modal, [modal] { qobject_cast<QDialog*>(modal)->done(-7); });
        });
        EXPECT_EQ(dialogs.alert(DialogPresenter::AlertStyle::warning, "Sure?", "", c.buttons),
                  c.answer);
    }
}

// Tabbing onto a destructive button does not make Return press it either.
TEST(QtDialogPresenter, ReturnOnAFocusedDestructiveButtonPressesTheDefaultOne) {
    QtDialogPresenter dialogs;
    whenModal([](QWidget* modal) {
        for (auto* button : qobject_cast<QMessageBox*>(modal)->buttons()) {
            if (button->text() == "Delete") {
                button->setFocus();
                pressKey(button, Qt::Key_Return);
            }
        }
    });
    EXPECT_EQ(dialogs.alert(DialogPresenter::AlertStyle::warning, "Delete this clip?", "",
                            {{"Delete", DialogPresenter::ButtonRole::destructive},
                             {"Cancel", DialogPresenter::ButtonRole::cancel}}),
              1);
}

TEST(QtDialogPresenter, ATextPromptGivesWhatWasTypedOrNothingOnCancel) {
    QtDialogPresenter dialogs;
    whenModal([](QWidget* modal) {
        auto* field = modal->findChild<QLineEdit*>();
        ASSERT_NE(field, nullptr);
        EXPECT_EQ(field->text(), "BANK 1");
        field->setText("Opening");
        qobject_cast<QDialog*>(modal)->accept();
    });
    EXPECT_EQ(dialogs.promptText("Rename Bank", "BANK 1", "OK", "Cancel"), "Opening");
    whenModal([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); });
    EXPECT_EQ(dialogs.promptText("Rename Bank", "BANK 1", "OK", "Cancel"), std::nullopt);
}

TEST(QtDialogPresenter, TheHelpPanelShowsHidesAndShowsAgainWithItsFirstText) {
    QtDialogPresenter dialogs;
    dialogs.toggleHelpPanel("Help", "first text");
    ASSERT_NE(dialogs.helpPanel(), nullptr);
    EXPECT_TRUE(dialogs.helpPanel()->isVisible());
    dialogs.toggleHelpPanel("Help", "second text");
    EXPECT_FALSE(dialogs.helpPanel()->isVisible());
    dialogs.toggleHelpPanel("Help", "second text");
    EXPECT_TRUE(dialogs.helpPanel()->isVisible());
    EXPECT_EQ(dialogs.helpPanel()->findChild<QPlainTextEdit*>()->toPlainText(), "first text");
}

}  // namespace
}  // namespace kestio::platform
