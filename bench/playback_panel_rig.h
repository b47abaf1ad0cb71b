#pragma once

// The panels on the real playback controller without a show, for benchmarks: the controller
// with its output surface on real decoding and the null audio device (the benchmark pulls its
// sound) on a manual run loop, and a facade whose loaded slot, time, meters and program picture
// are the controller's own and whose project is the recording facade's, which the controller is
// given as its project.

#include <memory>
#include <optional>

#include "platform/runloop/manual_run_loop.h"
#include "playback/playback_controller.h"
#include "show/live_show_playback.h"
#include "support/live_show_rig.h"
#include "support/recording_panel_facade.h"

namespace kestio::bench {

class PlaybackPanelFacade final : public test::RecordingPanelFacade {
  public:
    explicit PlaybackPanelFacade(PlaybackController& controller) : live_(controller) {
        isMeterPeak().set(true);
        controller.projectProvider = [this]() -> std::optional<ProjectData> { return projectData; };
    }
    // The controller's own values and steps, through the show's adapter.
    ShowPlayback& playback() override { return live_; }

  private:
    LiveShowPlayback live_;
};

struct PlaybackPanelRig {
    platform::ManualRunLoop loop;
    test::LivePlaybackRig output{loop};
    PlaybackPanelFacade facade{output.controller};
};

}  // namespace kestio::bench
