#pragma once

#include <functional>

namespace kestio {

class DiskWorker;
class ShowImporter;
class ShowPlayback;
class ShowProject;
namespace platform {
class BookmarkService;
class DialogPresenter;
class RunLoop;
}  // namespace platform

// What the show controller's parts all act on: the open project and the services of the
// window. Owned by the controller, which outlives its parts; handed to each part by reference.
struct ShowContext {
    platform::RunLoop& loop;
    // Also the play log.
    ShowPlayback& playback;
    ShowImporter& importer;
    platform::DialogPresenter& dialogs;
    const platform::BookmarkService& bookmarks;
    ShowProject& project;
    // The worker that project files, the missing-media check and the relink run their disk work
    // on, one after another (made on first use).
    std::function<DiskWorker&()> diskWorker;
};

}  // namespace kestio
