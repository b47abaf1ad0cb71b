#include "platform/ui/qt_dialog_presenter.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QLabel>
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
