#include "app/app_menus.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

#include "model/localization_manager.h"

namespace kestio::app {

namespace {

QString q(const std::string& text) {
    return QString::fromStdString(text);
}

// "✓ " before the name of the language in force.
QString languageItem(const char* name, bool current) {
    return (current ? QStringLiteral("\u2713 ") : QString()) + QString::fromUtf8(name);
}

}  // namespace

AppMenus::AppMenus(QMenuBar& bar, LocalizationManager& localization, Actions actions)
    : localization_(localization), actions_(std::move(actions)) {
    applicationMenu_ = bar.addMenu(QStringLiteral("Kestio"));
    keyBindings_ = applicationMenu_->addAction(QString());
    // Shift+"," arrives as "<" on a US layout: both forms are bound.
    keyBindings_->setShortcuts({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Comma),
                                QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Less)});
    keyBindings_->setShortcutContext(Qt::ApplicationShortcut);
    applicationMenu_->addSeparator();
    warmUp_ = applicationMenu_->addAction(QString());
    applicationMenu_->addSeparator();
    quit_ = applicationMenu_->addAction(QString());
    quit_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quit_->setShortcutContext(Qt::ApplicationShortcut);
    quit_->setMenuRole(QAction::NoRole);

    // The menu's title and the language names read the same in every language.
    languageMenu_ = bar.addMenu(QStringLiteral("Language"));
    japanese_ = languageMenu_->addAction(QString());
    english_ = languageMenu_->addAction(QString());

    QObject::connect(keyBindings_, &QAction::triggered, [this] {
        if (actions_.showKeyBindings) {
            actions_.showKeyBindings();
        }
    });
    QObject::connect(warmUp_, &QAction::triggered, [this] {
        if (actions_.requestWarmUp) {
            actions_.requestWarmUp();
        }
    });
    QObject::connect(quit_, &QAction::triggered, [this] {
        if (actions_.quit) {
            actions_.quit();
        }
    });
    QObject::connect(japanese_, &QAction::triggered,
                     [this] { localization_.language = AppLanguage::ja; });
    QObject::connect(english_, &QAction::triggered,
                     [this] { localization_.language = AppLanguage::en; });

    languageSubscription_ = localization_.language.subscribe([this](AppLanguage) { retitle(); });
    retitle();
}

AppMenus::~AppMenus() = default;

QAction* AppMenus::languageAction(AppLanguage language) const {
    return language == AppLanguage::ja ? japanese_ : english_;
}

void AppMenus::retitle() {
    const AppLanguage language = localization_.language.get();
    keyBindings_->setText(q(localization_.pick("キーバインド設定...", "Key Bindings...")));
    warmUp_->setText(q(localization_.pick("ウォームアップを実行...", "Run Warm-Up...")));
    quit_->setText(q(localization_.pick("Kestio を終了", "Quit Kestio")));
    japanese_->setText(languageItem("日本語", language == AppLanguage::ja));
    english_->setText(languageItem("English", language == AppLanguage::en));
}

}  // namespace kestio::app
