#pragma once

#include <cstdint>
#include <filesystem>

#include "model/project_data.h"
#include "platform/runloop/published.h"

namespace kestio {

// The open project of the show, with its generation and the marks the views follow. The show
// controller and its parts edit the project in place through it and tell the views with
// didChange() or setUnsaved(); only replace() puts another project in its place, bumping the
// generation so that late results of work started for the old one are dropped. Nobody keeps a
// reference to a slot or to the project across a turn of the run loop: a late result looks its
// slot up again and checks the generation and the slot's file (stillHolds).
class ShowProject {
  public:
    // `revision` is bumped after each change and `hasUnsavedChanges` set by setUnsaved(); both
    // are published cells of the views and outlive this.
    ShowProject(ProjectData project, platform::Published<std::uint64_t>& revision,
                platform::Published<bool>& hasUnsavedChanges);
    ShowProject(const ShowProject&) = delete;
    ShowProject& operator=(const ShowProject&) = delete;

    const ProjectData& data() const { return project_; }
    ProjectData& data() { return project_; }
    std::uint64_t generation() const { return generation_; }

    // The slot at (bank, slot), none when the indices address no slot of the project.
    SlotData* slotAt(int bank, int slot);
    const SlotData* slotAt(int bank, int slot) const;
    // True while the project is the one of `generation` and (bank, slot) still holds `url`.
    bool stillHolds(std::uint64_t generation, int bank, int slot,
                    const std::filesystem::path& url) const;

    // Marks the project changed for the views.
    void didChange();
    // Marks the project unsaved, and changed.
    void setUnsaved();
    // The project equals its package: the unsaved mark goes.
    void markSaved();
    // The unsaved mark, for those that count the edits.
    platform::Published<bool>& unsavedMark() { return hasUnsavedChanges_; }
    // Replaces the whole project (open, close) and bumps the generation.
    void replace(ProjectData project);

  private:
    ProjectData project_;
    std::uint64_t generation_ = 0;
    platform::Published<std::uint64_t>& revision_;
    platform::Published<bool>& hasUnsavedChanges_;
};

}  // namespace kestio
