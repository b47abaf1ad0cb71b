#include "app/qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>

#include "platform/runloop/console.h"

namespace kestio::app {

QtTranslations::QtTranslations(platform::Published<AppLanguage>& language) {
    apply(language.get());
    subscription_ = language.subscribe([this](AppLanguage now) { apply(now); });
}

QtTranslations::~QtTranslations() {
    if (translator_) {
        QCoreApplication::removeTranslator(translator_.get());
    }
}

void QtTranslations::apply(AppLanguage language) {
    if (translator_) {
        QCoreApplication::removeTranslator(translator_.get());
        translator_.reset();
    }
    if (language == AppLanguage::en) {
        return;
    }
    auto translator = std::make_unique<QTranslator>();
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (!translator->load(QStringLiteral("qtbase_ja"), folder)) {
        if (!reportedMissing_) {
            reportedMissing_ = true;
            platform::Console::log("⚠️ Qt's Japanese translations not found in " +
                                   folder.toStdString() + ": its dialogs stay in English");
        }
        return;
    }
    QCoreApplication::installTranslator(translator.get());
    translator_ = std::move(translator);
}

}  // namespace kestio::app
