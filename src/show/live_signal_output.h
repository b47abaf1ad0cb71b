#pragma once

#include "show/signal_output.h"

namespace kestio {

class PlaybackController;

// The colour bars and the test tone on the application's playback controller and its output
// surface.
class LiveSignalOutput final : public SignalOutput {
  public:
    explicit LiveSignalOutput(PlaybackController& playback) : playback_(playback) {}

    // The same reset a black post-roll performs: watchers removed, both slots cleared, the
    // loaded indices, clip name, times and levels back to idle.
    void resetPlayback() override;
    void showStillAndCut(const QImage& picture) override;
    void clearOutput() override;
    // The tone counts as started only when its node is on the shared engine and the engine
    // runs; otherwise it is taken off again.
    bool startTone(double levelDb) override;
    void stopTone() override;
    void setToneLevel(double levelDb) override;

  private:
    PlaybackController& playback_;
};

}  // namespace kestio
