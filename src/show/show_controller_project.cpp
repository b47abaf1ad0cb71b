#include "show/show_controller.h"

namespace kestio {

// TODO: save in place, or through the save panel.
void ShowController::saveProject() {}

// TODO: save to a new location.
void ShowController::saveProjectAs() {}

// TODO: the open panel.
void ShowController::openProject() {}

// TODO: open the package at `url`.
void ShowController::loadProject(const std::filesystem::path&) {}

// TODO: back to the default project after confirmation.
void ShowController::closeProject() {}

}  // namespace kestio
