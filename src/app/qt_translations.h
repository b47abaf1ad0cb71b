#pragma once

#include <QTranslator>
#include <memory>

#include "model/app_language.h"
#include "platform/runloop/published.h"

namespace kestio::app {

// Qt's own texts (the file dialogs' "Look in", "File name", "Cancel", the message boxes'
// buttons) in the interface language: the toolkit's translations for it are installed in the
// application, and exchanged whenever the language changes. English is the toolkit's own
// language and needs none. Where the translations are not installed, Qt's texts stay English and
// the console says so once. Main thread only.
class QtTranslations {
  public:
    explicit QtTranslations(platform::Published<AppLanguage>& language);
    ~QtTranslations();
    QtTranslations(const QtTranslations&) = delete;
    QtTranslations& operator=(const QtTranslations&) = delete;

    // True while a translation is installed.
    bool installed() const { return translator_ != nullptr; }

  private:
    void apply(AppLanguage language);

    std::unique_ptr<QTranslator> translator_;
    bool reportedMissing_ = false;
    platform::Subscription subscription_;
};

}  // namespace kestio::app
