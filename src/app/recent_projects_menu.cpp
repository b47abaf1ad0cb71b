#include "app/recent_projects_menu.h"

#include <QMenu>
#include <QPainter>
#include <system_error>

#include "model/localization_manager.h"
#include "platform/storage/bookmark_service.h"
#include "platform/ui/dialog_presenter.h"
#include "ui/palette.h"
#include "ui/symbols.h"

namespace kestio::app {

std::string RecentProjectsMenuModel::entryTitle(const std::string& path) {
    return std::filesystem::path(path).stem().string();
}

std::vector<PanelMenuEntry> RecentProjectsMenuModel::entries() {
    std::vector<PanelMenuEntry> items;
    const auto list = s_.store.load();
    if (list.empty()) {
        PanelMenuEntry none;
        none.text = L("最近使ったプロジェクトはありません", "No Recent Projects");
        none.enabled = false;
        items.push_back(none);
        return items;
    }
    for (const RecentProjectEntry& entry : list) {
        PanelMenuEntry item;
        item.text = entryTitle(entry.path);
        item.action = [this, entry] { open(entry); };
        items.push_back(item);
    }
    items.push_back(PanelMenuEntry::separator());
    PanelMenuEntry clear;
    clear.text = L("リストを消去", "Clear List");
    clear.action = [this] { clearList(); };
    items.push_back(clear);
    return items;
}

std::filesystem::path RecentProjectsMenuModel::locate(const RecentProjectEntry& entry) const {
    if (entry.bookmark) {
        for (const auto option :
             {platform::BookmarkOption::withSecurityScope, platform::BookmarkOption::none}) {
            try {
                return s_.bookmarks.resolveBookmarkData(*entry.bookmark, option).path;
            } catch (const platform::BookmarkError&) {
                // An unresolvable bookmark is no error: the next way, or the stored path.
            }
        }
    }
    return std::filesystem::path(entry.path);
}

void RecentProjectsMenuModel::open(const RecentProjectEntry& entry) {
    const std::filesystem::path package = locate(entry);
    std::error_code error;
    if (std::filesystem::exists(package, error)) {
        if (s_.loadProject) {
            s_.loadProject(package);
        }
        return;
    }
    s_.dialogs.alert(platform::DialogPresenter::AlertStyle::warning,
                     L("プロジェクトが見つかりません", "Project Not Found"),
                     package.filename().string(), {});
    // Read again after the alert: the list may have changed while it was open.
    auto list = s_.store.load();
    std::erase_if(list, [&](const RecentProjectEntry& e) { return e.path == entry.path; });
    s_.store.save(list);
}

void RecentProjectsMenuModel::clearList() {
    s_.store.save({});
}

RecentProjectsButton::RecentProjectsButton(RecentProjectsMenuModel::Services services,
                                           QWidget* parent)
    : QToolButton(parent), model_(std::move(services)) {
    setPopupMode(QToolButton::InstantPopup);
    setAutoRaise(true);
    setFixedSize(22, 24);
    auto* menu = new QMenu(this);
    setMenu(menu);
    connect(menu, &QMenu::aboutToShow, this, [this] { rebuildMenu(); });
    retranslate();
}

void RecentProjectsButton::rebuildMenu() {
    menu()->clear();
    fillPanelMenu(*menu(), model_.entries());
}

void RecentProjectsButton::retranslate() {
    setToolTip(QString::fromStdString(L("最近使ったプロジェクト", "Recent Projects")));
}

void RecentProjectsButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const double side = 14;
    ui::drawSymbol(p, QRectF((width() - side) / 2.0, (height() - side) / 2.0, side, side),
                   ui::Symbol::clockArrowCirclepath, ui::palette::white(0.92));
}

}  // namespace kestio::app
