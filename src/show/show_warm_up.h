#pragma once

// The warm-up of the show controller: every slot with media is played once, hidden and muted
// in the playback's warm-up way, so that each file has been opened and its decoder started
// before the show. One run at a time; it resumes on the run loop after each slot's picture is
// ready (or its time-out), and ends with the output black. The run takes its turn among the
// show's hidden plays, which keep the output muted and hidden while any runs and put the mute
// back as it was once the last has ended.
//
// Owns: the running warm-up (its list, position and turn among the hidden plays). The progress
// the loading overlay reads is published by playback (warmDone, warmTotal); the slots it plays
// are the project's, looked up again at each step.

#include <memory>

#include "model/project_data.h"

namespace kestio {

class ShowController;
enum class WarmUpMissingChoice;

class ShowWarmUp {
  public:
    explicit ShowWarmUp(ShowController& show) : show_(show) {}
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

    ShowController& show_;
    std::shared_ptr<Session> running_;
};

}  // namespace kestio
