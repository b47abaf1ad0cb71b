#include "control/key_binding_panel_controller.h"

#include <QScreen>
#include <QVBoxLayout>

#include "control/key_binding_settings_view.h"
#include "control/panel_style.h"
#include "model/localization_manager.h"
#include "platform/runloop/qt_run_loop.h"
#include "platform/ui/window_fit.h"

namespace kestio {

KeyBindingPanelController::KeyBindingPanelController(KeyBindingStore& store,
                                                     platform::RunLoop& loop)
    : store_(store), loop_(loop) {
    languageSubscription_ =
        LocalizationManager::shared().language.subscribe([this](const auto&) { retitle(); });
}

KeyBindingPanelController::~KeyBindingPanelController() = default;

KeyBindingPanelController& KeyBindingPanelController::shared() {
    // Lives as long as the process; its panel goes with the application's windows.
    static auto* loop = new platform::QtRunLoop();
    static auto* controller = new KeyBindingPanelController(KeyBindingStore::shared(), *loop);
    return *controller;
}

void KeyBindingPanelController::show() {
    if (panel_ && panel_->isVisible()) {
        panel_->hide();
        return;
    }
    view_ = nullptr;
    panel_.reset();
    auto panel = std::make_unique<QWidget>(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint);
    auto* layout = new QVBoxLayout(panel.get());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSizeConstraint(QLayout::SetFixedSize);  // follows the editor's size
    view_ = new KeyBindingSettingsView(store_, loop_);
    layout->addWidget(view_);
    // Centred on the screen the operator works on, whole on it.
    if (QScreen* screen = platform::activeWindowScreen()) {
        platform::placeFittedCentredOnceFramed(*panel, *screen, panel->sizeHint());
    }
    panel_ = std::move(panel);
    retitle();
    panel_->show();
    panel_->raise();
    panel_->activateWindow();
}

void KeyBindingPanelController::retitle() {
    if (panel_) {
        panel_->setWindowTitle(panel_style::qs(L("キーバインド設定", "Key Bindings")));
    }
}

}  // namespace kestio
