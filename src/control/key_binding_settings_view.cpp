#include "control/key_binding_settings_view.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include "control/key_codes.h"
#include "control/key_event_info.h"
#include "control/panel_style.h"
#include "model/localization_manager.h"

namespace kestio {

using namespace panel_style;

// Takes every key press of the application while an action is recorded. It is installed
// after the keyboard shortcut handler, so it sees keys first.
class KeyBindingSettingsView::KeyCapture : public QObject {
  public:
    KeyCapture(KeyBindingSettingsView& view, PlayControlAction action)
        : view_(view), action_(action) {
        QCoreApplication::instance()->installEventFilter(this);
    }
    ~KeyCapture() override {
        if (QCoreApplication::instance() != nullptr) {
            QCoreApplication::instance()->removeEventFilter(this);
        }
    }

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::ShortcutOverride) {
            event->accept();  // no menu shortcut fires while recording
            return true;
        }
        if (event->type() == QEvent::KeyPress) {
            view_.capture(action_, *static_cast<QKeyEvent*>(event));
            return true;
        }
        return false;
    }

  private:
    KeyBindingSettingsView& view_;
    PlayControlAction action_;
};

namespace {
QString bg(const QColor& color) {
    return QStringLiteral("background-color: %1;").arg(css(color));
}
}  // namespace

KeyBindingSettingsView::KeyBindingSettingsView(KeyBindingStore& store, platform::RunLoop& loop,
                                               QWidget* parent)
    : QWidget(parent),
      store_(store),
      loop_(loop),
      lifetime_(std::make_shared<KeyBindingSettingsView*>(this)) {
    setObjectName(QStringLiteral("keyBindingView"));
    setAttribute(Qt::WA_StyledBackground, true);
    setStyleSheet(QStringLiteral("#keyBindingView { %1 }").arg(bg(grey(0.14))));
    // 420 × 320, taller only when the texts need more room (long titles, a refusal).
    setFixedWidth(420);
    setMinimumHeight(320);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    help_ = new QLabel;
    help_->setObjectName(QStringLiteral("help"));
    help_->setTextFormat(Qt::PlainText);
    help_->setWordWrap(true);
    help_->setAlignment(Qt::AlignLeading | Qt::AlignTop);
    help_->setContentsMargins(14, 10, 14, 10);
    help_->setStyleSheet(QStringLiteral("color: %1; %2").arg(css(grey(0.55)), bg(grey(0.18))));
    column->addWidget(help_);
    auto divider = [] {
        auto* line = new QWidget;
        line->setFixedHeight(1);
        line->setAttribute(Qt::WA_StyledBackground, true);
        line->setStyleSheet(bg(grey(0.22)));
        return line;
    };
    column->addWidget(divider());

    for (PlayControlAction action : kAllPlayControlActions) {
        const QString name = QString::fromLatin1(rawValue(action).data());
        auto* row = new QWidget;
        auto* line = new QHBoxLayout(row);
        line->setContentsMargins(14, 9, 14, 9);
        line->setSpacing(8);
        auto* title = new QLabel;
        title->setObjectName(QStringLiteral("title_") + name);
        title->setStyleSheet(QStringLiteral("color: %1;").arg(css(grey(0.85))));
        title->setTextFormat(Qt::PlainText);
        title->setWordWrap(true);
        line->addWidget(title, 1);

        auto* key = new QPushButton;
        key->setObjectName(QStringLiteral("key_") + name);
        key->setFlat(true);
        key->setCursor(Qt::PointingHandCursor);
        key->setFocusPolicy(Qt::NoFocus);
        connect(key, &QPushButton::clicked, this, [this, action] {
            if (recordingAction_ == action) {
                stopRecording();
            } else {
                startRecording(action);
            }
        });
        line->addWidget(key);

        auto* clear = new QToolButton;
        clear->setObjectName(QStringLiteral("clear_") + name);
        clear->setIcon(symbolIcon(Symbol::clear, grey(0.4), 14));
        clear->setIconSize(QSize(14, 14));
        clear->setAutoRaise(true);
        clear->setFocusPolicy(Qt::NoFocus);
        clear->setStyleSheet(
            QStringLiteral("QToolButton { border: none; background: transparent; }"));
        connect(clear, &QToolButton::clicked, this, [this, action] { store_.unassign(action); });
        line->addWidget(clear);

        titles_[action] = title;
        keyButtons_[action] = key;
        clearButtons_[action] = clear;
        column->addWidget(row);
        column->addWidget(divider());
    }

    error_ = new QLabel;
    error_->setObjectName(QStringLiteral("error"));
    error_->setTextFormat(Qt::PlainText);  // may quote another action's title
    error_->setWordWrap(true);
    error_->setContentsMargins(14, 6, 14, 6);
    error_->setStyleSheet(QStringLiteral("color: %1;").arg(css(accentOrange())));
    column->addWidget(error_);

    auto* bottom = new QHBoxLayout;
    bottom->setContentsMargins(12, 12, 12, 12);
    reset_ = new QPushButton;
    reset_->setObjectName(QStringLiteral("reset"));
    reset_->setFocusPolicy(Qt::NoFocus);
    connect(reset_, &QPushButton::clicked, this, [this] {
        store_.resetToDefaults();
        errorMessage_.reset();
        refresh();
    });
    bottom->addWidget(reset_);
    bottom->addStretch(1);
    column->addStretch(1);
    column->addLayout(bottom);

    auto redraw = [this](const auto&) { refresh(); };
    subscriptions_.push_back(store_.bindings.subscribe(redraw));
    subscriptions_.push_back(store_.unassignedActions.subscribe(redraw));
    subscriptions_.push_back(LocalizationManager::shared().language.subscribe(redraw));
    refresh();
}

KeyBindingSettingsView::~KeyBindingSettingsView() {
    keyMonitor_.reset();
}

QString KeyBindingSettingsView::keyDisplayText(PlayControlAction action) const {
    if (recordingAction_ == action) {
        return qs(L("キーを押してください...", "Press a key..."));
    }
    if (const auto key = store_.effectiveKey(action)) {
        return qs(key->displayString());
    }
    return qs(L("未割り当て", "Not Assigned"));
}

void KeyBindingSettingsView::startRecording(PlayControlAction action) {
    stopRecording();
    recordingAction_ = action;
    errorMessage_.reset();
    keyMonitor_ = std::make_unique<KeyCapture>(*this, action);
    refresh();
}

void KeyBindingSettingsView::stopRecording() {
    keyMonitor_.reset();
    recordingAction_.reset();
    refresh();
}

void KeyBindingSettingsView::later(std::function<void()> step) {
    std::weak_ptr<KeyBindingSettingsView*> weak = lifetime_;
    loop_.post([weak, step = std::move(step)] {
        if (weak.lock()) {
            step();
        }
    });
}

void KeyBindingSettingsView::capture(PlayControlAction action, const QKeyEvent& event) {
    const KeyEventInfo key = translateKeyEvent(event);
    if (key.isModifierOnly || !key.keyCode) {
        return;  // a lone modifier, or a key that cannot be stored: keep waiting
    }
    const std::uint16_t code = *key.keyCode;
    if (code == keycode::kEscape) {
        later([this] { stopRecording(); });
    } else if (code == keycode::kBackspace || code == keycode::kDelete) {
        later([this, action] {
            store_.unassign(action);
            errorMessage_.reset();
            stopRecording();
        });
    } else {
        const std::uint64_t modifiers = key.modifierFlags & modifier::kMask;
        later([this, action, code, modifiers] {
            errorMessage_ = store_.assign(code, modifiers, action);
            stopRecording();
        });
    }
}

void KeyBindingSettingsView::hideEvent(QHideEvent* event) {
    stopRecording();
    QWidget::hideEvent(event);
}

void KeyBindingSettingsView::refresh() {
    help_->setFont(uiFont(11));
    help_->setText(
        qs(L("変更したい項目のキー表示をクリックし、新しいキーを押してください。\n"
             "Deleteキーまたは右の×で「未割り当て」にできます。\n"
             "グリッドのスロットキー（1-0 / Q-P / A-; / Z-/）と矢印キーには変更できません。",
             "Click the key display for the item you want to change, then press the "
             "new key.\n"
             "Press Delete, or use the × button, to set it to \"Not Assigned\".\n"
             "Grid slot keys (1-0 / Q-P / A-; / Z-/) and arrow keys cannot be "
             "assigned.")));
    // The panel takes its fixed size from the size hints, which guess a wrapped text's height
    // at some width of their own: the help is given the height of its lines at its real width.
    help_->setMinimumHeight(help_->heightForWidth(width()));
    for (PlayControlAction action : kAllPlayControlActions) {
        titles_[action]->setFont(uiFont(12, QFont::Medium));
        titles_[action]->setText(qs(title(action)));

        const bool recording = recordingAction_ == action;
        const bool assigned = store_.effectiveKey(action).has_value();
        QColor text = recording ? accentOrange() : (assigned ? QColor(Qt::white) : grey(0.45));
        QColor fill = grey(0.24);
        if (recording) {
            fill = accentOrange();
            fill.setAlphaF(0.15f);
        }
        const QColor stroke = recording ? accentOrange() : grey(0.35);
        QPushButton* key = keyButtons_[action];
        key->setFont(monoFont(12, QFont::DemiBold));
        key->setText(keyDisplayText(action));
        key->setMinimumWidth(110);
        key->setStyleSheet(QStringLiteral("QPushButton { color: %1; background-color: %2;"
                                          " border: 1px solid %3; border-radius: 5px;"
                                          " padding: 5px 12px; }")
                               .arg(css(text), css(fill), css(stroke)));

        QToolButton* clear = clearButtons_[action];
        clear->setToolTip(qs(L("未割り当てにする", "Set to Not Assigned")));
        clear->setVisible(assigned && !recording);
    }
    error_->setFont(uiFont(11));
    error_->setText(errorMessage_ ? qs(*errorMessage_) : QString());
    error_->setVisible(errorMessage_.has_value());
    reset_->setFont(uiFont(12));
    reset_->setText(qs(L("既定値に戻す", "Reset to Defaults")));
}

}  // namespace kestio
