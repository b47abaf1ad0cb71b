#include "show/show_controller.h"

namespace kestio {

// TODO: mark the slots whose files are missing.
void ShowController::checkMissingMedia() {}

// TODO: probe a changed file again.
void ShowController::rescanClip(const std::filesystem::path&, int, int) {}

// TODO: relink missing slots from a folder.
void ShowController::relinkFromFolder() {}

}  // namespace kestio
