#pragma once

// The panels on the real playback controller without a show, for benchmarks: the controller
// with its output surface on real decoding and the null audio device (the benchmark pulls its
// sound) on a manual run loop, and a facade whose loaded slot, time, meters and program picture
// are the controller's own and whose project is the recording facade's, which the controller is
// given as its project.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/runloop/manual_run_loop.h"
#include "playback/playback_controller.h"
#include "support/live_show_rig.h"
#include "support/recording_panel_facade.h"

namespace kestio::bench {

class PlaybackPanelFacade final : public test::RecordingPanelFacade {
  public:
    explicit PlaybackPanelFacade(PlaybackController& controller) : p_(controller) {
        isMeterPeak().set(true);
        p_.projectProvider = [this]() -> std::optional<ProjectData> { return projectData; };
    }
    platform::Published<std::optional<int>>& currentBankIndex() override {
        return p_.currentBankIndex;
    }
    platform::Published<std::optional<int>>& currentSlotIndex() override {
        return p_.currentSlotIndex;
    }
    platform::Published<double>& currentTime() override { return p_.currentTime; }
    platform::Published<double>& duration() override { return p_.duration; }
    platform::Published<std::string>& selectedClipName() override { return p_.selectedClipName; }
    platform::Published<bool>& isMuted() override { return p_.isMuted; }
    platform::Published<std::vector<float>>& vuLevels() override { return p_.vuLevels; }
    platform::Published<int>& vuChannelCount() override { return p_.vuChannelCount; }
    platform::Published<std::string>& outputDeviceName() override { return p_.outputDeviceName; }
    bool isLooping() const override { return p_.isLooping(); }
    void setMeterPeak(bool on) override { p_.setMeterPeak(on); }
    std::shared_ptr<platform::Layer> programLayer() override { return p_.view().rootLayer(); }
    void layoutProgram() override { p_.view().layout(); }

  private:
    PlaybackController& p_;
};

struct PlaybackPanelRig {
    platform::ManualRunLoop loop;
    test::LivePlaybackRig output{loop};
    PlaybackPanelFacade facade{output.controller};
};

}  // namespace kestio::bench
