#include "show/show_controller.h"

namespace kestio {

struct ShowController::WarmUpSession {};

// TODO: play every slot with media once, hidden and muted.
void ShowController::startWarmUp(const ProjectData&) {}

// TODO: the missing-file alert of the warm-up.
WarmUpMissingChoice ShowController::askMissingFileDuringWarmUp(int, int) {
    return WarmUpMissingChoice::cancel;
}

}  // namespace kestio
