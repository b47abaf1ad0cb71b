#pragma once

#include <string>
#include <string_view>

#include "model/app_language.h"
#include "platform/runloop/published.h"
#include "platform/storage/user_defaults.h"

namespace kestio {

// The language of the user interface, kept in the user defaults under "appLanguage".
//
// The stored value is read once, when the manager is made: exactly "ja" or "en" is taken,
// anything else (nothing, "", "EN", "en-US") gives Japanese, and nothing is written back at
// that point. Every assignment to `language` afterwards, also of the value already set,
// stores the raw value and notifies every subscriber. Main thread only.
class LocalizationManager {
  public:
    // The store is borrowed and must outlive the manager.
    explicit LocalizationManager(platform::UserDefaults& defaults);
    LocalizationManager(const LocalizationManager&) = delete;
    LocalizationManager& operator=(const LocalizationManager&) = delete;

    // The application's manager, made on first use over the standard user defaults.
    static LocalizationManager& shared();

    platform::Published<AppLanguage> language;

    // The help text of the current language.
    std::string_view helpText() const;

    // The English text when the language is English, else the Japanese one (also when the
    // chosen text is empty).
    std::string pick(std::string_view ja, std::string_view en) const;

    static constexpr const char* kDefaultsKey = "appLanguage";

  private:
    platform::UserDefaults& defaults_;
    platform::Subscription storing_;
};

// The text picker of every user-visible text: the half of (Japanese, English) that belongs to
// the language of the shared manager.
std::string L(std::string_view ja, std::string_view en);

}  // namespace kestio
