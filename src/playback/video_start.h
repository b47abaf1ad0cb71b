#pragma once

// The video path: loading a clip into the hidden slot (or taking over the preloaded one),
// starting its picture and sound together at its in point, and the guarded switch of the two
// slots.

//
// Owns: the observation of the starting item's status and the layer-switch guard (one switch in
// 50 ms). The cue it starts is recorded with the output surface; the follower it asks to be
// preloaded is the post-roll policy's answer.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>

#include "model/slot_data.h"
#include "platform/runloop/published.h"
#include "platform/runloop/time_types.h"
#include "playback/playback_controller.h"

namespace kestio {

class VideoStart {
  public:
    // A layer switch asked for by a loop.
    struct LayerSwitch {
        bool dissolve = false;
        output::PlaybackSlot* target = nullptr;
        double duration = 0.0;
    };

    explicit VideoStart(PlaybackController& controller) : pc_(controller) {}

    // Starts (bank, slot) from `url` in `target` (the hidden slot): the preloaded cue taken over
    // when it is this one, else the clip loaded; switched to air once prerolled and placed.
    void play(int bank, int slot, const std::filesystem::path& url, const SlotData& data,
              output::PlaybackSlot& target);
    // Switches to `change.target` through the guard, for play `generation` only.
    void requestLayerSwitch(std::uint64_t generation, LayerSwitch change);
    // The slot shows a picture, keeps up, and (for a dissolve) runs.
    bool isReadyToSwitch(output::PlaybackSlot& slot, bool dissolve) const;
    // Ends the status observation (the controller's removeObservers()).
    void stop() { statusObserver_.reset(); }

  private:
    // What one video start carries through its deferred steps.
    struct StartContext {
        std::uint64_t generation = 0;
        int bank = 0;
        int slot = 0;
        output::PlaybackSlot* target = nullptr;
        PlaybackController::ItemPtr item;
        SlotData data;
        platform::HostTime startedAt;
        bool dissolve = false;
        double dissolveDuration = 0.0;
        double inPoint = 0.0;
        std::shared_ptr<SlotAudioSettingsBox> audio;
        // The item's readiness was handled; the picture was placed; the clip player has
        // prerolled the clip; the start was begun (each at most once).
        std::shared_ptr<bool> ready = std::make_shared<bool>(false);
        std::shared_ptr<bool> placed = std::make_shared<bool>(false);
        std::shared_ptr<bool> clipReady = std::make_shared<bool>(false);
        std::shared_ptr<bool> started = std::make_shared<bool>(false);
    };

    void onItemReady(const StartContext& context);
    void showWhenReady(const StartContext& context);
    void deferredStart(const StartContext& context);
    void startAndSwitch(const StartContext& context);
    void performLayerSwitch(std::uint64_t generation, std::function<void()> action);
    void switchLayer(const LayerSwitch& change);

    PlaybackController& pc_;
    platform::Subscription statusObserver_;
    bool isSwitchingLayer_ = false;
};

}  // namespace kestio
