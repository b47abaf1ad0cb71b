#pragma once

#include <QObject>
#include <functional>

#include "model/app_language.h"
#include "platform/runloop/published.h"

class QAction;
class QMenu;
class QMenuBar;

namespace kestio {
class LocalizationManager;
}

namespace kestio::app {

// The menu bar of the main window: the application menu ("Key Bindings..." with Ctrl+Shift+",",
// "Run Warm-Up...", "Quit" with Ctrl+Q) and the "Language" menu with one item per language, the
// current one checked with "✓ ". Item texts follow the interface language. Main thread only.
class AppMenus {
  public:
    struct Actions {
        std::function<void()> showKeyBindings;
        std::function<void()> requestWarmUp;
        std::function<void()> quit;
    };

    AppMenus(QMenuBar& bar, LocalizationManager& localization, Actions actions);
    ~AppMenus();
    AppMenus(const AppMenus&) = delete;
    AppMenus& operator=(const AppMenus&) = delete;

    QMenu* applicationMenu() const { return applicationMenu_; }
    QMenu* languageMenu() const { return languageMenu_; }
    QAction* keyBindingsAction() const { return keyBindings_; }
    QAction* warmUpAction() const { return warmUp_; }
    QAction* quitAction() const { return quit_; }
    QAction* languageAction(AppLanguage language) const;

  private:
    // Sets every item's text for the current language.
    void retitle();

    LocalizationManager& localization_;
    Actions actions_;
    QMenu* applicationMenu_;
    QMenu* languageMenu_;
    QAction* keyBindings_;
    QAction* warmUp_;
    QAction* quit_;
    QAction* japanese_;
    QAction* english_;
    platform::Subscription languageSubscription_;
};

}  // namespace kestio::app
