// Typing into a field of the panels that the canvas view shows, and its end: Return or Enter
// commits, Escape abandons, a click elsewhere on the canvas commits, and in every case the keys
// go back to the show (the keyboard shortcut handler fires slots again).

#include "app/field_editing.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>
#include <functional>
#include <string>
#include <vector>

#include "app/canvas_view.h"
#include "app/design_canvas.h"
#include "control/keyboard_shortcut_handler.h"
#include "panels/editable_value_label.h"
#include "panels/field_cycle.h"
#include "platform/storage/user_defaults.h"
#include "ui/fonts.h"

namespace kestio::test {
namespace {

using app::CanvasPanel;

// A grid cell's stand-in: it takes no focus and counts the presses that reach it.
class Cell : public QWidget {
  public:
    int presses = 0;

  protected:
    void mousePressEvent(QMouseEvent* event) override {
        ++presses;
        event->accept();
    }
};

class FieldEditingTest : public ::testing::Test {
  protected:
    FieldEditingTest() {
        auto* panel = new QWidget;
        auto* rows = new QVBoxLayout(panel);
        x_->setText("10");
        QObject::connect(x_, &QLineEdit::editingFinished,
                         [this] { commits_.push_back(x_->text().toStdString()); });
        rows->addWidget(x_);
        rows->addWidget(y_);
        rows->addWidget(label_);
        cell_->setFixedSize(80, 40);
        rows->addWidget(cell_);
        view_->canvas().place(CanvasPanel::geometry, panel);
        auto* layout = new QVBoxLayout(&window_);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(view_);
        window_.resize(1920, 1080);
        window_.show();
        QApplication::setActiveWindow(&window_);
        view_->setFocus();
        QApplication::processEvents();
        handler_.onPlaySlot = [this](int s) { fired_.push_back("slot " + std::to_string(s)); };
        handler_.onEnter = [this] { fired_.push_back("enter"); };
        handler_.onStop = [this] { fired_.push_back("stop"); };
        handler_.start();
    }

    // A key press as the window system delivers it: to the application's focus widget.
    void type(int key, std::uint32_t evdev, const QString& text = {},
              Qt::KeyboardModifiers mods = {}) {
        QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : &window_;
        QKeyEvent press(QEvent::KeyPress, key, mods, evdev + 8, 0, 0, text);
        QApplication::sendEvent(target, &press);
        QKeyEvent release(QEvent::KeyRelease, key, mods, evdev + 8, 0, 0, text);
        QApplication::sendEvent(target, &release);
    }
    // Types the digits 2 and 1; what they fired.
    std::vector<std::string> typeTwentyOne() {
        fired_.clear();
        type(Qt::Key_2, 3, "2");
        type(Qt::Key_1, 2, "1");
        return fired_;
    }
    // A click in the middle of `widget` on the canvas, through the view.
    void click(QWidget* widget) {
        const QPoint onCanvas = widget->mapTo(&view_->canvas(), widget->rect().center());
        clickCanvas(onCanvas);
    }
    void clickCanvas(QPointF onCanvas) {
        QTest::mouseClick(view_->viewport(), Qt::LeftButton, {}, view_->mapFromScene(onCanvas));
    }
    // Whether the slot keys reach the show: the key 2 plays slot 1.
    bool keysReachTheShow() {
        fired_.clear();
        type(Qt::Key_2, 3, "2");
        return fired_ == std::vector<std::string>{"slot 1"};
    }

    platform::InMemoryUserDefaults defaults_;
    KeyBindingStore store_{defaults_};
    KeyboardShortcutHandler handler_{store_};
    std::vector<std::string> fired_;
    std::vector<std::string> commits_;
    double labelValue_ = 1.0;
    QWidget window_;
    app::CanvasView* view_ = new app::CanvasView(new app::DesignCanvas);
    QLineEdit* x_ = new QLineEdit;
    QLineEdit* y_ = new QLineEdit;
    panels::EditableValueLabel* label_ = new panels::EditableValueLabel(
        {[this] { return labelValue_; }, [this](double v) { labelValue_ = v; }}, {0.0, 100.0},
        [](double v) { return QString::number(v); },
        [](const QString& text) -> std::optional<double> {
            bool ok = false;
            const double v = text.toDouble(&ok);
            return ok ? std::optional<double>(v) : std::nullopt;
        },
        ui::fonts::monospaced(14), 60);
    Cell* cell_ = new Cell;
};

TEST_F(FieldEditingTest, ReturnAndEnterCommitEscapeAbandonsAndTheKeysGoBackToTheShow) {
    struct Case {
        const char* what;
        int key;
        std::uint32_t evdev;
        Qt::KeyboardModifiers mods;
        bool commits;
    };
    const Case cases[] = {
        {"Return", Qt::Key_Return, 28, {}, true},
        {"keypad Enter", Qt::Key_Enter, 96, Qt::KeypadModifier, true},
        {"Escape", Qt::Key_Escape, 1, {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // A persistent field: it keeps showing what was committed, or what it had.
        x_->setText("10");
        commits_.clear();
        click(x_);
        ASSERT_EQ(view_->fieldEditing().focusedField(), x_);
        x_->selectAll();
        EXPECT_TRUE(typeTwentyOne().empty());
        fired_.clear();
        type(c.key, c.evdev, {}, c.mods);
        EXPECT_TRUE(fired_.empty()) << "the key that ends the typing fired " << fired_.front();
        EXPECT_EQ(x_->text(), c.commits ? "21" : "10");
        EXPECT_EQ(commits_,
                  c.commits ? std::vector<std::string>{"21"} : std::vector<std::string>{});
        EXPECT_EQ(view_->fieldEditing().focusedField(), nullptr);
        EXPECT_TRUE(keysReachTheShow());
        EXPECT_EQ(x_->text(), c.commits ? "21" : "10");

        // A readout that turns into a field while edited keeps its own handling.
        labelValue_ = 1.0;
        click(label_);
        ASSERT_TRUE(label_->isEditing());
        label_->field()->selectAll();
        EXPECT_TRUE(typeTwentyOne().empty());
        type(c.key, c.evdev, {}, c.mods);
        EXPECT_FALSE(label_->isEditing());
        EXPECT_EQ(labelValue_, c.commits ? 21.0 : 1.0);
        EXPECT_TRUE(keysReachTheShow());
    }
}

// Tab and Shift+Tab reach the field, whose section decides where the typing goes on (here not
// the next widget on the canvas): the keys stay in a field, and the field left commits.
TEST_F(FieldEditingTest, TabAndShiftTabMoveTheTypingRoundTheSectionAndNeverToTheShow) {
    panels::FieldCycle section(&window_);
    section.add(x_);
    section.add(label_);
    section.add(y_);
    x_->setText("10");
    commits_.clear();
    labelValue_ = 1.0;
    click(x_);
    x_->selectAll();
    EXPECT_TRUE(typeTwentyOne().empty());
    type(Qt::Key_Tab, 15);
    EXPECT_EQ(commits_, std::vector<std::string>{"21"});
    ASSERT_TRUE(label_->isEditing());
    EXPECT_TRUE(typeTwentyOne().empty()) << "the digits after the Tab are the next field's";
    type(Qt::Key_Tab, 15);
    EXPECT_EQ(labelValue_, 21.0);
    EXPECT_EQ(view_->fieldEditing().focusedField(), y_);
    type(Qt::Key_Backtab, 15, {}, Qt::ShiftModifier);
    EXPECT_TRUE(label_->isEditing());
    EXPECT_TRUE(fired_.empty());
    type(Qt::Key_Escape, 1);
    EXPECT_TRUE(keysReachTheShow());
}

TEST_F(FieldEditingTest, AClickOnTheCanvasOutsideAFieldCommitsAndTheKeysGoBackToTheShow) {
    struct Case {
        const char* what;
        std::function<void()> click;
    };
    const Case cases[] = {
        {"a cell", [this] { click(cell_); }},
        {"the canvas's background",
         [this] {
             clickCanvas({1900, 1070});
         }},
        {"a readout", [this] { click(label_); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        x_->setText("10");
        commits_.clear();
        click(x_);
        x_->selectAll();
        EXPECT_TRUE(typeTwentyOne().empty());
        const int presses = cell_->presses;
        c.click();
        EXPECT_EQ(commits_, std::vector<std::string>{"21"});
        EXPECT_NE(view_->fieldEditing().focusedField(), x_);
        if (label_->isEditing()) {
            // The readout clicked takes the keys in its turn, until its Return.
            EXPECT_TRUE(typeTwentyOne().empty());
            type(Qt::Key_Return, 28);
        } else {
            EXPECT_EQ(view_->fieldEditing().focusedField(), nullptr);
        }
        EXPECT_TRUE(keysReachTheShow());
        EXPECT_EQ(cell_->presses - presses, c.what == std::string("a cell") ? 1 : 0)
            << "the press goes on to what was clicked";
    }
}

TEST_F(FieldEditingTest, AClickIntoAFieldKeepsTheTyping) {
    click(x_);
    x_->selectAll();
    EXPECT_TRUE(typeTwentyOne().empty());
    // Into the same field: the cursor moves, the keys stay.
    click(x_);
    EXPECT_EQ(view_->fieldEditing().focusedField(), x_);
    EXPECT_TRUE(commits_.empty());
    // Into another: the first commits as it loses the focus, the other takes the keys.
    click(y_);
    EXPECT_EQ(commits_, std::vector<std::string>{"21"});
    EXPECT_EQ(view_->fieldEditing().focusedField(), y_);
    EXPECT_TRUE(typeTwentyOne().empty());
    EXPECT_EQ(y_->text(), "21");
}

}  // namespace
}  // namespace kestio::test
