#pragma once

class QImage;

namespace kestio {

// What the colour bars and the test tone need of playback and its output.
class SignalOutput {
  public:
    virtual ~SignalOutput() = default;
    // Stops the controller's watchers of the clip on air (clocks, end watcher, still and
    // sound-only timers) and clears its loaded state, so that no post-roll fires later.
    virtual void resetPlayback() = 0;
    // Shows `picture` as a still with neutral colour in the hidden playback slot and cuts to it.
    virtual void showStillAndCut(const QImage& picture) = 0;
    // Empties the output: pending dissolves void, both slots cleared, slot A showing, the layer
    // log line "stopAll".
    virtual void clearOutput() = 0;
    // Starts the test tone at `levelDb`; false when it cannot sound (nothing is left running).
    virtual bool startTone(double levelDb) = 0;
    // Stops the tone and publishes silent meters.
    virtual void stopTone() = 0;
    // Sets the tone's level whether or not it runs.
    virtual void setToneLevel(double levelDb) = 0;
};

}  // namespace kestio
