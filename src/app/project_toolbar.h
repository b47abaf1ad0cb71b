#pragma once

#include <QColor>
#include <QWidget>
#include <filesystem>
#include <optional>
#include <string>

#include "app/panel_painting.h"
#include "app/recent_projects_menu.h"

class QPushButton;
class QToolButton;

namespace kestio {
class ShowController;
}
namespace kestio::ui {
class FittedLabel;
}

namespace kestio::app {

// The name the toolbar shows for a package: its file name without the last extension
// ("My.Show.ktshow" → "My.Show"); none without a package.
std::optional<std::string> projectDisplayName(const std::optional<std::filesystem::path>& package);
// The Save title's colour: red with unsaved changes in a project that has a location, else
// white 0.5.
QColor saveTitleColor(bool hasUnsavedChanges, bool hasLocation);

// The project toolbar, the content of the top-left card: the project's name, the loading state
// with FORCE RESET, and the commands Open, Recent Projects, Save, Save As, Close, Relink and
// Help. It keeps nothing: every control reads the show and calls its operations. Save only
// asks the show to save; the show itself clears the unsaved mark once the package is written.
class ProjectToolbar : public QWidget {
  public:
    ProjectToolbar(ShowController& show, RecentProjectsMenuModel::Services recent, QSize size,
                   QWidget* parent = nullptr);

    // Reads the show and the language again (called on every change of either).
    void refresh();

    QPushButton* openButton() const { return open_; }
    QPushButton* saveButton() const { return save_; }
    QPushButton* saveAsButton() const { return saveAs_; }
    QPushButton* closeButton() const { return close_; }
    QToolButton* relinkButton() const { return relink_; }
    QPushButton* helpButton() const { return help_; }
    QPushButton* forceResetButton() const { return forceReset_; }
    RecentProjectsButton* recentButton() const { return recent_; }
    QString nameText() const;
    QString statusText() const { return status_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    ShowController& show_;
    ui::FittedLabel* name_;
    QPushButton* forceReset_;
    QPushButton* open_;
    RecentProjectsButton* recent_;
    QPushButton* save_;
    QPushButton* saveAs_;
    QPushButton* close_;
    QToolButton* relink_;
    QPushButton* help_;
    QString status_;
    std::vector<platform::Subscription> subscriptions_;
};

}  // namespace kestio::app
