#pragma once

#include <functional>
#include <string>
#include <vector>

class QMenu;

namespace kestio::app {

// One entry of a side panel's context or pop-up menu, as a plain value: the panels' models
// decide the entries, and fillPanelMenu() turns them into menu actions.
struct PanelMenuEntry {
    enum class Kind { action, separator, heading };
    Kind kind = Kind::action;
    std::string text;
    bool enabled = true;
    bool destructive = false;
    bool checked = false;
    std::function<void()> action;

    static PanelMenuEntry separator() { return {Kind::separator, {}, false, false, false, {}}; }
    static PanelMenuEntry heading(std::string text) {
        return {Kind::heading, std::move(text), false, false, false, {}};
    }
};

// Appends the entries to `menu`. Qt menus have no destructive role: such actions are marked
// with the property "destructive" and read plainly. A checked entry shows the check mark
// symbol; a heading is a disabled entry in a semibold font.
void fillPanelMenu(QMenu& menu, const std::vector<PanelMenuEntry>& entries);

}  // namespace kestio::app
