#pragma once

#include <QImage>
#include <QString>
#include <QWidget>

#include "model/localization_manager.h"
#include "show/show_project_fixture.h"
#include "ui/palette.h"
#include "ui/ui_test_support.h"

namespace kestio::test {

// The show fixture for the side panels' tests: English at the start of every case, and shots of
// a panel in both languages.
class SidePanelFixture : public ShowProjectFixture {
  protected:
    SidePanelFixture() { setLanguage(AppLanguage::en); }
    ~SidePanelFixture() override { setLanguage(AppLanguage::en); }

    // The panel drawn on the card grey in each language, saved as <name>_en.png and
    // <name>_ja.png; returns the English image.
    QImage shots(QWidget& panel, const QString& name,
                 const QColor& background = QColor(41, 41, 41)) {
        setLanguage(AppLanguage::ja);
        saveShot(render(panel, background), name + "_ja");
        setLanguage(AppLanguage::en);
        QImage english = render(panel, background);
        saveShot(english, name + "_en");
        return english;
    }
};

}  // namespace kestio::test
