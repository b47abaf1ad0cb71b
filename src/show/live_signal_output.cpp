#include "show/live_signal_output.h"

#include "output/output_surface.h"
#include "output/test_tone.h"
#include "playback/playback_controller.h"

namespace kestio {

void LiveSignalOutput::resetPlayback() {
    if (playback_.view().onAirOrOnItsWay()) {
        // What is on air, or the cue on its way there before its take, ends.
        playback_.handlePostRoll(PostRollMode::black);
    } else {
        // Nothing is on air or on its way: only what the parts still watch ends.
        playback_.removeObservers();
    }
}

void LiveSignalOutput::showStillAndCut(const QImage& picture) {
    playback_.view().cutToStill(picture);
}

void LiveSignalOutput::clearOutput() {
    playback_.view().stopAll();
}

bool LiveSignalOutput::startTone(double levelDb) {
    auto& engine = playback_.view().sharedEngine();
    playback_.toneGen().start(engine, levelDb);
    if (playback_.toneGen().isRunning() && engine.isRunning()) {
        return true;
    }
    playback_.stopTestTone();
    return false;
}

void LiveSignalOutput::stopTone() {
    playback_.stopTestTone();
}

void LiveSignalOutput::setToneLevel(double levelDb) {
    playback_.toneGen().setLevel(levelDb);
}

}  // namespace kestio
