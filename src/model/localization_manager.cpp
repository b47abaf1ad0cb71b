#include "model/localization_manager.h"

#include "model/help_text.h"

namespace kestio {

namespace {

AppLanguage storedLanguage(const platform::UserDefaults& defaults) {
    const auto raw = defaults.string(LocalizationManager::kDefaultsKey);
    return raw ? appLanguageFromRawValue(*raw).value_or(AppLanguage::ja) : AppLanguage::ja;
}

}  // namespace

LocalizationManager::LocalizationManager(platform::UserDefaults& defaults)
    : language(storedLanguage(defaults)), defaults_(defaults) {
    storing_ = language.subscribe([this](AppLanguage value) {
        defaults_.setString(kDefaultsKey, std::string(rawValue(value)));
    });
}

LocalizationManager& LocalizationManager::shared() {
    static LocalizationManager instance(platform::UserDefaults::standard());
    return instance;
}

std::string_view LocalizationManager::helpText() const {
    return kestio::helpText(language.get());
}

std::string LocalizationManager::pick(std::string_view ja, std::string_view en) const {
    return std::string(language.get() == AppLanguage::en ? en : ja);
}

std::string L(std::string_view ja, std::string_view en) {
    return LocalizationManager::shared().pick(ja, en);
}

}  // namespace kestio
