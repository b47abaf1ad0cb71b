#include "ui/fonts.h"

#include <QStringList>

#include <algorithm>

#include "model/localization_manager.h"

namespace kestio::ui::fonts {

QFont system(double pixelSize, QFont::Weight weight, AppLanguage language) {
    QFont font;
    if (language == AppLanguage::ja) {
        font.setFamilies(
            QStringList{QString::fromLatin1(kJapaneseFamily), QString::fromLatin1(kLatinFamily)});
    } else {
        font.setFamilies(
            QStringList{QString::fromLatin1(kLatinFamily), QString::fromLatin1(kJapaneseFamily)});
    }
    font.setPixelSize(std::max(1, static_cast<int>(pixelSize + 0.5)));
    font.setWeight(weight);
    return font;
}

QFont system(double pixelSize, QFont::Weight weight) {
    return system(pixelSize, weight, LocalizationManager::shared().language.get());
}

QFont monospaced(double pixelSize, QFont::Weight weight) {
    QFont font;
    font.setFamilies(
        QStringList{QString::fromLatin1(kMonoFamily), QString::fromLatin1(kJapaneseFamily)});
    font.setStyleHint(QFont::Monospace);
    font.setFixedPitch(true);
    font.setPixelSize(std::max(1, static_cast<int>(pixelSize + 0.5)));
    font.setWeight(weight);
    return font;
}

}  // namespace kestio::ui::fonts
