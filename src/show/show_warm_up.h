#pragma once

// The warm-up of the show: every slot with media is played once, hidden and muted
// in the playback's warm-up way, so that each file has been opened and its decoder started
// before the show. One run at a time; it resumes on the run loop after each slot's picture is
// ready (or its time-out), and ends with the output black. The run takes its turn among the
// show's hidden plays, which keep the output muted and hidden while any runs and put the mute
// back as it was once the last has ended.
//
// Owns: the running warm-up (its list, position and turn among the hidden plays). The progress
// the loading overlay reads is published by playback (warmDone, warmTotal); the slots it plays
// are the project's, looked up again at each step. Its run-loop steps hold its lifetime, so none
// runs after it is gone. A slot is played as a cue is played, and a missing file relinked, through
// the actions it is given.

#include <functional>
#include <memory>
#include <utility>

#include "model/project_data.h"
#include "show/show_context.h"

namespace kestio {

class HiddenPlays;
class LoadingCount;

// The operator's answer to a slot found missing during the warm-up.
enum class WarmUpMissingChoice { searchFolder, skip, cancel };

class ShowWarmUp {
  public:
    // How long a slot's picture may take to be ready for display before the run goes on.
    static constexpr double kDisplayTimeout = 1.5;  // seconds

    // What the run asks of the rest of the show.
    struct Actions {
        // Plays the slot as a cue is played (hidden, as the hidden plays are under way).
        std::function<void(int bank, int slot)> playSlot;
        // Asks for a folder and relinks the missing slots from it; `then` once that is over.
        std::function<void(std::function<void()> then)> relinkFromFolder;
    };

    ShowWarmUp(ShowContext& show, HiddenPlays& hiddenPlays, LoadingCount& loading, Actions actions)
        : show_(show), hiddenPlays_(hiddenPlays), loading_(loading), actions_(std::move(actions)) {}
    ShowWarmUp(const ShowWarmUp&) = delete;
    ShowWarmUp& operator=(const ShowWarmUp&) = delete;

    // Warms up every slot of `project` with media, in the grid's order; nothing when one runs
    // for the same project (a run for a replaced project is ended first).
    void startWarmUp(const ProjectData& project);

  private:
    struct Session;

    // Runs the entries from the session's position on until one has to wait, or the run ends.
    void step(const std::shared_ptr<Session>& session);
    void finishEntry(const std::shared_ptr<Session>& session);
    void end(const std::shared_ptr<Session>& session);
    // The alert for a slot whose file is missing, and the operator's answer.
    WarmUpMissingChoice askMissingFile(int bank, int slot);

    ShowContext& show_;
    HiddenPlays& hiddenPlays_;
    LoadingCount& loading_;
    Actions actions_;
    std::shared_ptr<Session> running_;
    std::shared_ptr<ShowWarmUp*> alive_ = std::make_shared<ShowWarmUp*>(this);
};

}  // namespace kestio
