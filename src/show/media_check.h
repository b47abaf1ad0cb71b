#pragma once

// The missing-media check after a project is opened, the rescan of clips changed on disk and
// the relink of missing slots from a folder, for the show. The disk work (resolving,
// looking at files, searching folders) runs on the controller's disk worker; the results are
// written into the project on the run loop, and only into the project the work was started for
// and into slots that still refer to what was looked at.
//
// Owns: nothing that outlives an operation; each check or relink carries what it looked at in
// its own job. The missing marks it writes are the project's. Acts on the show's project,
// playback log, importer, dialogs, bookmarks and disk worker; its probes' answers hold its
// lifetime, so one that comes after it is gone does nothing.

#include <filesystem>
#include <functional>
#include <memory>

#include "show/show_context.h"

namespace kestio {

class MediaCheck {
  public:
    explicit MediaCheck(ShowContext& show) : show_(show) {}
    MediaCheck(const MediaCheck&) = delete;
    MediaCheck& operator=(const MediaCheck&) = delete;

    // Looks at every slot's file on the disk worker, marks the missing ones, rescans the ones
    // changed on disk and offers the relink when some are missing. `then` runs on the run loop
    // once the check is over (its alerts answered, a relink it led to done), whatever its
    // outcome.
    void checkMissingMedia(std::function<void()> then);
    void checkMissingMedia();
    // Probes the clip at `url` again and writes its clip info and picture into (bank, slot);
    // the waveform of what the file held before is dropped.
    void rescanClip(const std::filesystem::path& url, int bank, int slot);
    // Asks for a folder and relinks the missing slots to files of the same name in it; `then`
    // as for the check.
    void relinkFromFolder(std::function<void()> then);
    void relinkFromFolder();

  private:
    // rescanClip; for a slot `relinked` to a file of another format its kind follows the probe
    // too.
    void probeAgain(const std::filesystem::path& url, int bank, int slot, bool relinked);

    ShowContext& show_;
    std::shared_ptr<MediaCheck*> alive_ = std::make_shared<MediaCheck*>(this);
};

}  // namespace kestio
