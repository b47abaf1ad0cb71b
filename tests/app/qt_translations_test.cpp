// Qt's own texts follow the interface language: Japanese from the installed translations, the
// toolkit's English after a switch to English, and back.

#include <gtest/gtest.h>

#include <QCoreApplication>

#include "app/qt_translations.h"
#include "model/localization_manager.h"
#include "ui/ui_test_support.h"

namespace kestio::app {
namespace {

QString fileDialogText() {
    return QCoreApplication::translate("QFileDialog", "Look in:");
}

TEST(QtTranslations, QtsOwnTextsFollowTheLanguage) {
    test::setLanguage(AppLanguage::ja);
    auto& language = LocalizationManager::shared().language;
    {
        QtTranslations translations(language);
        ASSERT_TRUE(translations.installed()) << "Qt's Japanese translations are not installed";
        EXPECT_NE(fileDialogText(), "Look in:");
        language = AppLanguage::en;
        EXPECT_FALSE(translations.installed());
        EXPECT_EQ(fileDialogText(), "Look in:");
        language = AppLanguage::ja;
        EXPECT_NE(fileDialogText(), "Look in:");
    }
    // Gone with its owner.
    EXPECT_EQ(fileDialogText(), "Look in:");
}

}  // namespace
}  // namespace kestio::app
