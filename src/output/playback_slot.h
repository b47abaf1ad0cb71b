#pragma once

// One of the output surface's two stacked players. A slot holds a container layer (its
// opacity is the slot's visibility, its contents a still), a video layer inside it that shows
// the slot's queue player, the slot's sound chain (all of the slot's sound goes through it; the
// picture player is silent), the slot's colour values, and a clip player that starts picture
// and sound together on the audio engine's clock and repeats a loop on both without any step of
// the main thread at a seam.
//
// The slot loads a clip (colour-corrected from its first picture), starts a loop, waits until
// its first picture can be displayed, shows a still and clears itself. It decides nothing about
// what plays when: the playback controller and the output surface drive it. Its visibility is
// set only by the output surface and by clear().
//
// Everything runs on the run loop's (main) thread. Deferred steps (the readiness re-checks, the
// loop's duration and track loads, the loop's sound load) hold the slot weakly and do nothing
// once it has gone.

#include <QImage>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "model/settings_records.h"
#include "output/color_settings_box.h"
#include "platform/graphics/still_decoder.h"
#include "platform/media/clip_player.h"
#include "platform/media/media_factory.h"
#include "platform/runloop/job_threads.h"
#include "platform/runloop/published.h"
#include "platform/runloop/run_loop.h"

namespace kestio {
class AudioEngineController;
}

namespace kestio::platform {
class Layer;
}
namespace kestio::platform::audio {
class AudioEngine;
}

namespace kestio::output {

class VideoColorCompositor;

// Makes the clip player that pairs a slot's picture player with the slot's sound chain. The
// application's pairs the player with the chain's player node and time-pitch unit
// (PlaybackSlot::pairedClipPlayers); tests give scripted ones.
using ClipPlayerFactory = std::function<std::unique_ptr<platform::media::ClipPlayer>(
    std::shared_ptr<platform::media::QueuePlayer> player, AudioEngineController& audio)>;

// What a slot is built from; the output surface makes one for each of its slots.
struct SlotServices {
    platform::RunLoop& loop;
    platform::media::MediaFactory& media;
    const VideoColorCompositor& compositor;
    ClipPlayerFactory clipPlayers;
};

class PlaybackSlot {
  public:
    // The readiness wait of a loop: attempts, and the time between two re-checks.
    static constexpr int kReadyAttempts = 20;
    static constexpr double kReadyRecheckSeconds = 0.1;
    // Read-ahead of a loaded clip and of a loop's passes, in seconds.
    static constexpr double kLoadForwardBuffer = 1.0;
    static constexpr double kLoopForwardBuffer = 3.0;
    // An end moved behind the picture on screen shows the picture this long before it.
    static constexpr double kBeforeEnd = 0.001;
    // Animation keys of the surface's dissolves, which clear() removes.
    static constexpr const char* kFadeIn = "fadeIn";
    static constexpr const char* kFadeOut = "fadeOut";

    // Clip players of the real classes: the queue player follows the chain's player node on
    // `engine` (the engine of the chains).
    static ClipPlayerFactory pairedClipPlayers(platform::RunLoop& loop,
                                               platform::audio::AudioEngine& engine);

    // `audio` must outlive the slot. The slot starts empty: hidden (opacity 0), no item, no
    // still, default colour values.
    PlaybackSlot(const SlotServices& services, AudioEngineController& audio);
    ~PlaybackSlot();
    PlaybackSlot(const PlaybackSlot&) = delete;
    PlaybackSlot& operator=(const PlaybackSlot&) = delete;

    // The slot's layer in the output surface: its opacity is the slot's visibility, its
    // contents the still shown. No property of it animates unless an animation is added.
    const std::shared_ptr<platform::Layer>& containerLayer() const { return containerLayer_; }
    // The layer inside the container that shows the player's pictures (frame, gravity, hidden).
    const std::shared_ptr<platform::Layer>& videoLayer() const { return videoLayer_; }
    // The player's pictures for layers, with their readiness for display. A mirror view shows
    // the same source in layers of its own.
    platform::media::PlayerLayer& playerLayer() const { return *playerLayer_; }
    std::shared_ptr<const platform::media::PlayerLayer> playerLayerSource() const {
        return playerLayer_;
    }
    // The picture player (always silent).
    const std::shared_ptr<platform::media::QueuePlayer>& player() const { return player_; }
    // Starts the slot's picture and sound together (see ClipPlayer).
    platform::media::ClipPlayer& clipPlayer() const { return *clipPlayer_; }
    // The slot's sound chain.
    AudioEngineController& audio() const { return audio_; }
    // The colour values in force for this slot; the player's frame filter and the still's
    // contents filter follow them, so setting them is all a colour change takes.
    ColorSettingsBox& colorSettingsBox() const { return *colorSettingsBox_; }

    // A loop started by startLoop() runs (until stopLooping(), load(), showStill() or clear()).
    bool isLooping() const { return isLooping_; }
    // The loop range decided by the last startLoop() (empty: the whole item, or not decided yet).
    std::optional<platform::media::TimeRange> loopRange() const { return loopRange_; }
    // An observation of the player's current item that the playback controller keeps while
    // the slot loops; stopLooping() ends it.
    platform::Subscription& currentItemObserver() { return currentItemObserver_; }
    // The slot shows a still rather than video.
    bool isStill() const { return isStill_; }
    // Advanced by every clear(): what was placed before a clear is over.
    std::uint64_t clearCount() const { return clearCount_; }
    // A readiness wait is under way.
    bool isWaitingForDisplay() const { return waitingForDisplay_; }
    // The still as received (null without one): the container's contents, which its contents
    // filter corrects where it is composed.
    const QImage& originalStillImage() const { return originalStillImage_; }
    // The still's own size in pixels, which places it (empty without one).
    QSize stillSize() const { return stillSize_; }

    // The clip the player holds now (its current item) with the sound the chain has loaded
    // (none until the chain holds a span of it), for clipPlayer().play().
    platform::media::ClipPlayer::Clip currentClip() const;

    // Prepares the clip at `url` from `startTime` (seconds) to `endTime` (none: the end) with
    // `colors`: a new item with 1 s of read-ahead, the only one in the player's queue, opened at
    // `startTime` (it shows no picture from before it), its pictures corrected from the first one
    // on; the video layer shown and any still removed; the chain starts loading the same span of
    // the clip's sound. Starts nothing and changes no opacity. A loop under way ends first.
    void load(const std::filesystem::path& url, double startTime, std::optional<double> endTime,
              const ColorSettings& colors);

    // The clip loaded ends at `endTime` from now on (none: at its end): its player shows no
    // picture past it. Nothing without a clip.
    void setEndTime(std::optional<double> endTime);

    // Where a clip loaded from `startTime` ends: `endTime` when it comes after the start, else
    // at the clip's own end (none).
    static std::optional<double> endAfter(double startTime, std::optional<double> endTime) {
        return endTime && *endTime > startTime ? endTime : std::nullopt;
    }

    // Ends a loop: the pass playing now plays to its end and nothing follows; the observations
    // of a loop and of a readiness wait end.
    void stopLooping();

    // Loops `templateItem` (an item of `asset` at `url`, its colour correction in place) with its
    // sound from `startTime` to `endTime` (none: see the range rules in the source), picture and
    // sound repeating together; plays it at once and calls `onReady` (posted, once) when its
    // first picture can be displayed, or when the readiness wait gives up.
    void startLoop(const std::filesystem::path& url, std::shared_ptr<platform::media::Asset> asset,
                   std::shared_ptr<platform::media::PlayerItem> templateItem, double startTime,
                   std::optional<double> endTime, std::function<void()> onReady);

    // Calls `onReady` once, on the run loop, when the video layer can display a picture or the
    // player's current item is ready to play, looking again every 0.1 s at most `attempts`
    // times; after the last attempt it is called anyway. A new wait replaces one under way,
    // whose callback is then never called.
    void waitForReadyForDisplay(int attempts, std::function<void()> onReady);

    // Shows `image` colour-corrected by `colors` in the container, letterboxed; the player is
    // emptied and the video layer hidden. Changes no opacity. The correction is made where the
    // still is composed, not here. `ownSize` is the picture's own size when `image` was decoded
    // reduced (not valid: the image's size).
    void showStill(const QImage& image, const ColorSettings& colors, QSize ownSize = {},
                   const std::filesystem::path& file = {});

    // The still shown is now drawn into a box of `shownAt` pixels (not valid: at its own size).
    // A still decoded from `file` (see showStill()) smaller than that box needs is decoded
    // again at the size it needs, off the main thread, and put in the container when ready;
    // the picture before stays until then, and a still shown meanwhile, or a later refit,
    // leaves the decode's picture unused.
    void refitStill(QSize shownAt);
    // Decodes a still to be drawn at a size (see platform::decodeStillToShow()).
    using StillDecode = std::function<platform::DecodedStill(
        const std::filesystem::path& file, QSize shownAt, const platform::StillStop& stop)>;
    // Runs a job on another thread.
    using Runner = std::function<void(std::function<void()>)>;
    // Where refitStill() decodes: by default the still decoder on a thread of the slot's own.
    void setStillDecoder(StillDecode decode, Runner runner);

    // Stops everything and empties the slot: loop, player, sound, still; opacity 0 and the
    // dissolve animations removed.
    void clear();

  private:
    struct ReadyWait;

    void stopRefit();

    void startLoopWithRange(std::uint64_t generation, const std::filesystem::path& url,
                            std::shared_ptr<platform::media::PlayerItem> templateItem,
                            platform::media::TimeRange range, std::function<void()> onReady);
    void readyPass(std::uint64_t wait, int attempts);
    void finishWait(std::uint64_t wait, bool posted);
    void endReadyWait();
    // Empties the container, the corrected copy of its still included.
    void removeStill();

    platform::RunLoop& loop_;
    platform::media::MediaFactory& media_;
    const VideoColorCompositor& compositor_;
    AudioEngineController& audio_;
    std::shared_ptr<platform::Layer> containerLayer_;
    std::shared_ptr<platform::Layer> videoLayer_;
    std::shared_ptr<platform::media::QueuePlayer> player_;
    std::shared_ptr<platform::media::PlayerLayer> playerLayer_;
    std::unique_ptr<platform::media::ClipPlayer> clipPlayer_;
    std::unique_ptr<ColorSettingsBox> colorSettingsBox_;
    platform::Subscription colorFollow_;
    platform::Subscription stillColorFollow_;

    bool isLooping_ = false;
    std::optional<platform::media::TimeRange> loopRange_;
    // Advanced by every load, loop, still and clear: a loop's deferred steps of an earlier
    // generation do nothing.
    std::uint64_t loopGeneration_ = 0;
    platform::Subscription currentItemObserver_;
    bool isStill_ = false;
    std::uint64_t clearCount_ = 0;
    QImage originalStillImage_;
    QSize stillSize_;
    std::filesystem::path stillFile_;
    // The refit under way: asked to stop when another one, a new still or a clear takes over.
    std::shared_ptr<std::atomic<bool>> refitStop_;
    StillDecode decodeStill_;
    Runner runInBackground_;
    std::shared_ptr<platform::SerialWorker> refitWorker_;

    // The readiness wait: its number (a wait of another number is over), its callback, the
    // observation of the layer and the pending re-check.
    bool waitingForDisplay_ = false;
    std::uint64_t readyWait_ = 0;
    std::function<void()> onReady_;
    platform::Subscription readyObserver_;
    bool readyObserved_ = false;
    platform::TimerHandle readyRecheck_;

    // Deferred steps hold this weakly.
    std::shared_ptr<PlaybackSlot*> self_ = std::make_shared<PlaybackSlot*>(this);
};

}  // namespace kestio::output
