#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace kestio {

// The language of the user interface.
enum class AppLanguage { ja, en };

// Every language, in the order the Language menu lists them.
inline constexpr std::array<AppLanguage, 2> kAllAppLanguages = {AppLanguage::ja, AppLanguage::en};

// The stored form: "ja" or "en".
constexpr std::string_view rawValue(AppLanguage language) {
    return language == AppLanguage::en ? "en" : "ja";
}

// Exactly "ja" or "en" (case-sensitive); anything else gives no value.
constexpr std::optional<AppLanguage> appLanguageFromRawValue(std::string_view raw) {
    if (raw == "ja") {
        return AppLanguage::ja;
    }
    if (raw == "en") {
        return AppLanguage::en;
    }
    return std::nullopt;
}

// The language's name in the Language menu, the same whatever the current language.
constexpr std::string_view menuLabel(AppLanguage language) {
    return language == AppLanguage::en ? "English" : "日本語";
}

}  // namespace kestio
