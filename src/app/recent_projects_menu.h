#pragma once

#include <QToolButton>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/panel_menu.h"
#include "model/recent_projects.h"

namespace kestio {
namespace platform {
class BookmarkService;
class DialogPresenter;
}  // namespace platform
}  // namespace kestio

namespace kestio::app {

// The Recent Projects menu without a view: its entries are built from the store each time the
// menu opens. Choosing an entry opens its package where its bookmark (or else its path) leads;
// a package that is not there is reported ("Project Not Found") and, once the alert is
// answered, every entry of that path is removed from the store. Main thread only; the only disk
// access is the existence check of the chosen package.
class RecentProjectsMenuModel {
  public:
    struct Services {
        RecentProjects& store;
        const platform::BookmarkService& bookmarks;
        platform::DialogPresenter& dialogs;
        // The show controller's loadProject.
        std::function<void(const std::filesystem::path&)> loadProject;
    };

    explicit RecentProjectsMenuModel(Services services) : s_(std::move(services)) {}

    // The package's file name without its last extension.
    static std::string entryTitle(const std::string& path);

    std::vector<PanelMenuEntry> entries();
    void open(const RecentProjectEntry& entry);
    void clearList();

  private:
    std::filesystem::path locate(const RecentProjectEntry& entry) const;

    Services s_;
};

// The toolbar's borderless clock button whose menu is rebuilt from the store every time it
// opens.
class RecentProjectsButton : public QToolButton {
  public:
    explicit RecentProjectsButton(RecentProjectsMenuModel::Services services,
                                  QWidget* parent = nullptr);

    RecentProjectsMenuModel& model() { return model_; }
    // Rebuilds the menu from the store, as opening it does.
    void rebuildMenu();
    void retranslate();

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    RecentProjectsMenuModel model_;
};

}  // namespace kestio::app
