#pragma once

// The program output: a black layer tree holding the two playback slots, slot A below and slot B
// above, of which one is on air while the other prepares the next clip. It switches between them
// with a cut or an eased dissolve, places each slot's picture on the output canvas by the
// clip's geometry, writes a layer log of every switch and tells a mirror when a cut or a
// dissolve starts. It also owns the one audio engine both slots' sound chains (and the test
// tone) play into, and fits the chains to a clip's channel count and rate without touching the
// sound on air.
//
// Views show the tree through their own presenters (a LayerView over rootLayer()); none of them
// owns a slot or a decoder. The view that lays the surface out calls layout() after each size
// change.
//
// The pair of slots is the one owner of what is on air (the foreground) and of what is cued in
// the hidden slot (the background, with its state: loading, ready, hidden-playing, warming).
// Hand-over and ownership rules:
// - A cue is recorded by cue() once its clip is in the hidden slot, and lives there until a take
//   moves it to air, forgetCue() drops it, or the hidden slot is cleared (a play that does not
//   use it, stopAll()).
// - The clip on air stays on air until a take replaces it: a cue that never becomes ready, or
//   fails, leaves the foreground as it is.
// - Only take() (or the cut and dissolve under it) moves a cue to air; a warming cue is never
//   meant for air, and is never heard: backgroundLevel() gives a level only to a cue on its way
//   to air.
//
// Everything runs on the run loop's (main) thread. A dissolve is two layer animations begun at
// one time (that of the incoming clip's start on the engine clock, when given), so picture and
// sound keep together whatever the main thread does. Deferred dissolve steps hold the surface
// weakly and carry the dissolve generation they began with; once the counter has moved on they
// do nothing.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "model/settings_records.h"
#include "output/audio_engine_controller.h"
#include "output/playback_slot.h"
#include "output/slot_cue.h"
#include "output/video_color_compositor.h"
#include "platform/audio/audio_engine.h"
#include "platform/graphics/compositor.h"
#include "platform/graphics/geometry.h"
#include "platform/graphics/opacity_animation.h"
#include "platform/graphics/worker_pool.h"
#include "platform/runloop/published.h"
#include "platform/runloop/run_loop.h"
#include "platform/runloop/time_types.h"
#include "platform/runloop/wall_clock.h"

namespace kestio::platform {
class Layer;
}
namespace kestio::platform::audio {
class AudioOutputDevice;
}

namespace kestio::output {

class OutputSurface {
  public:
    struct Services {
        platform::RunLoop& loop;
        // The device the shared engine plays on.
        std::shared_ptr<platform::audio::AudioOutputDevice> audioDevice;
        platform::media::MediaFactory& media;
        // Makes each slot's clip player; empty: PlaybackSlot::pairedClipPlayers.
        ClipPlayerFactory clipPlayers = {};
        // The time of day stamped on layer-log lines; null: the system's.
        std::shared_ptr<const platform::WallClock> wallClock = nullptr;
        // Where colour correction runs; null: the shared pool.
        platform::WorkerPool* pool = nullptr;
    };

    // The canvas before any play request sets one.
    static constexpr platform::SizeF kDefaultMonitorSize{1920.0, 1080.0};
    // The deferred clean-up of a dissolve to slot B runs this long after the fade's end.
    static constexpr double kFadeInCleanupDelay = 0.01;
    // Rates reconfigureAudioEngine() takes; others become kFallbackSampleRate.
    static constexpr double kMaxSampleRate = 768000.0;
    static constexpr double kFallbackSampleRate = 48000.0;

    // Builds the engine on the device, the chains "A" and "B" on it, a slot for each and the
    // layer tree, and starts the engine (a failure is a console line).
    explicit OutputSurface(Services services);
    ~OutputSurface();
    OutputSurface(const OutputSurface&) = delete;
    OutputSurface& operator=(const OutputSurface&) = delete;

    // A warm-up runs: a cut then leaves the incoming slot's opacity as it is.
    bool isWarming() const { return isWarming_; }
    void setIsWarming(bool warming) { isWarming_ = warming; }

    platform::audio::AudioEngine& sharedEngine() { return engine_; }
    // The factory the slots open their clips with.
    platform::media::MediaFactory& media() { return media_; }
    const VideoColorCompositor& compositor() const { return compositor_; }
    PlaybackSlot& slotA() { return *slotA_; }
    PlaybackSlot& slotB() { return *slotB_; }
    AudioEngineController& audioA() { return *audioA_; }
    AudioEngineController& audioB() { return *audioB_; }
    // The slot on air (A while showingA()) and the other one.
    PlaybackSlot& showingSlot() { return showingA_ ? *slotA_ : *slotB_; }
    PlaybackSlot& hiddenSlot() { return showingA_ ? *slotB_ : *slotA_; }

    // ---- What is on air and what is cued ----
    // The clip the foreground slot shows on air; none before the first take and after stopAll().
    const std::optional<OnAir>& foreground() const { return foreground_; }
    // The clip cued in the background (hidden) slot; none when nothing is.
    const std::optional<Cue>& background() const { return background_; }
    // How many takes (cuts and dissolves) have put a cue on air; set at each, as it is made.
    platform::Published<std::uint64_t> takes{0};
    // Records `cue` as what the hidden slot holds now (its clip loaded there by the caller),
    // replacing any earlier cue.
    void cue(Cue cue);
    // Moves the cue on to `state` (nothing without one).
    void setCueState(CueState state);
    // The cue of `ref` from `url` is in the hidden slot, on its way to air (not warming).
    bool holdsCue(SlotRef ref, const std::filesystem::path& url) const;
    // Drops the record of the cue; the hidden slot keeps what it holds until it is cleared.
    void forgetCue();
    // The slot on air or on its way there: the cue started or stood by for its take (hidden
    // playing), else the clip on air; none when neither is. What the panels name as playing and
    // what a stop ends; watchOnAirOrOnItsWay() is told each time it changes.
    std::optional<SlotRef> onAirOrOnItsWay() const { return onAirOrOnItsWay_.get(); }
    [[nodiscard]] platform::Subscription watchOnAirOrOnItsWay(
        std::function<void(const std::optional<SlotRef>&)> changed) {
        return onAirOrOnItsWay_.subscribe(std::move(changed));
    }
    // Switches the hidden slot to air by a cut or a dissolve (beginning at `atClockTime` on the
    // engine clock; none: now); its cue becomes what is on air.
    void take(const Take& how, std::optional<platform::ClockTime> atClockTime = std::nullopt);
    // The clip loadCue() put into the hidden slot: the slot and the clip's item (null when the
    // slot has none).
    struct LoadedCue {
        PlaybackSlot& slot;
        std::shared_ptr<platform::media::PlayerItem> item;
    };
    // Loads `next`'s clip into the hidden slot from its in point (to `outPoint`, with `colors`)
    // and records it as the cue, with the item loaded for it. What the slot still adds to the
    // picture on screen (the outgoing side of a dissolve) is held first.
    LoadedCue loadCue(Cue next, std::optional<double> outPoint, const ColorSettings& colors);
    // The level the hidden slot's chain may have now: its cue's own while the cue is on its way
    // to air; none (silent) for a warming cue, a slot fading out or an empty one.
    std::optional<AudioSettings> backgroundLevel() const;

    // The output canvas in pixels; geometry is computed in it. A size that is not finite and
    // positive is refused with a console line.
    platform::SizeF monitorSize() const { return monitorSize_; }
    void setMonitorSize(platform::SizeF size);

    // Which slot is on air: true slot A.
    bool showingA() const { return showingA_; }
    void setShowingA(bool showingA) { showingA_ = showingA; }

    // Counter of transitions: advancing it makes every pending dissolve step do nothing.
    std::uint64_t dissolveGeneration() const { return dissolveGeneration_; }
    void advanceDissolveGeneration() { ++dissolveGeneration_; }

    // Receives every finished layer-log line (posted to the run loop).
    std::function<void(const std::string& line)> onLayerLog;
    // Told when a dissolve starts: whether slot A comes in, the outgoing slot's opacity on screen
    // then (0 when the held picture carries it), the duration, and the host time the fades
    // begin at.
    std::function<void(bool incomingIsA, float outgoingOpacity, double duration,
                       platform::HostTime beginTime)>
        onDissolveStarted;
    // Told when a cut is made: whether slot A comes in.
    std::function<void(bool incomingIsA)> onCutStarted;
    // Told after every change of the held picture (see heldLayer()): taken, faded, let go.
    std::function<void()> onHeldChanged;

    // The tree to show: black, clipped to its bounds, slot A's container (z 1) under slot B's
    // (z 2).
    const std::shared_ptr<platform::Layer>& rootLayer() const { return root_; }
    // The layout pass: each slot's container fills the root's bounds, or takes the geometry last
    // applied to it since it was last cleared, fitted to the new bounds.
    void layout();
    // Sets the root's frame to a view of `size` and lays out.
    void setViewSize(platform::SizeF size);

    // ---- Steps on the slot on air and on both slots ----
    // Applies the equaliser to the sound chain of the slot on air.
    void applyEqualizerOnAir(const EqualizerSettings& equalizer);
    // True when the player of the slot on air stands still (its rate is 0), as a clip frozen at
    // its end or paused does.
    bool isOnAirStopped() const;
    // Sets both slots' picture opacity to 0 at once.
    void hideSlots();
    // Shows `picture` as a still with neutral colour in the hidden slot and cuts to it.
    void cutToStill(const QImage& picture);

    // Fits the chains to a clip of `channelCount` channels at `sampleRate`: at least two channels,
    // no more than the device has (when it has two or more), with time-pitch and equaliser only
    // for stereo. The sound on air plays on through it unchanged. Asking again for the format in
    // force does nothing.
    void reconfigureAudioEngine(std::uint32_t channelCount, double sampleRate);

    // Places `slot`'s picture on the canvas by `geometry` (content size: the clip's picture, for
    // the original-size mode). A rectangle that is not finite is refused with a layer-log line.
    void applyGeometry(const GeometrySettings& geometry, PlaybackSlot& slot, double contentWidth,
                       double contentHeight);

    // Switches at once to the hidden slot `to`: it becomes visible (unless warming), the slot
    // on air is hidden and cleared, and the cue becomes what is on air. A dissolve under way
    // ends with it.
    void cut(PlaybackSlot& to);
    // Cross-fades to the hidden slot `to` over `duration` seconds (zero or less: at once),
    // beginning when the engine clock reads `atClockTime` (none: now). The outgoing sound
    // fades out over the first frames of the fade; the outgoing slot is cleared once hidden.
    void dissolve(PlaybackSlot& to, double duration,
                  std::optional<platform::ClockTime> atClockTime = std::nullopt);
    // Readies the hidden slot for a new play request: hidden and, unless `preloaded` (it holds
    // the preloaded clip), cleared. A transition under way goes on as it is on screen: the slot
    // on air keeps its fade, and a picture the hidden slot still adds to the mix is held (see
    // heldLayer()) while the slot takes the next clip.
    void prepareForPlay(bool preloaded);
    // The picture held between the slots (z 1.5) while the slot that showed it takes the next
    // clip, with the fade it had; the next take fades it out with the rest of what is on air.
    // Null while nothing is held (it is then out of the tree).
    const std::shared_ptr<platform::Layer>& heldLayer() const { return held_; }
    // Stops all output: every pending dissolve step made void, both slots' animations removed
    // and both cleared, slot A marked on air, and the layer-log line "stopAll".
    void stopAll();

    // The dissolve's fade: eased in and out, holding its last value until removed.
    static platform::OpacityAnimation makeOpacityAnimation(float from, float to, double duration);

    // Writes "[HH:mm:ss.SSS] [LAYER] " + message to the console and posts it to onLayerLog.
    void layerLog(const std::string& message);
    // Four layer-log lines: the heading and both slots' z positions and opacities, and
    // showingA.
    void logLayerState(const std::string& label);

  private:
    struct AppliedGeometry {
        GeometrySettings geometry;
        double contentWidth = 0.0;
        double contentHeight = 0.0;
        // The slot's clearCount() when it was applied.
        std::uint64_t clearCount = 0;
    };

    // False when the rectangle is refused.
    bool placeSlot(PlaybackSlot& slot, const std::optional<AppliedGeometry>& applied);
    void stopOutgoingSound(PlaybackSlot& outgoing, std::optional<platform::ClockTime> atClockTime);
    std::optional<AppliedGeometry>& appliedFor(PlaybackSlot& slot);
    void cancelTransitions();
    // Takes the picture `slot` adds to what is on screen into the held layer: with the slot's
    // own fade when nothing is held yet, else together with the held picture, as they show now.
    void holdPicture(PlaybackSlot& slot);
    // The hidden slot leaves the picture on screen, which stays as it is: what the slot still
    // adds to it is held, a fade of the slot on air runs on, and no step of a transition under
    // way touches either slot again.
    void releaseHiddenSlot();
    // Everything held at once is let go.
    void dropHeld();
    void heldChanged();
    // The cue goes on air: the foreground takes it, the background is empty.
    void promoteCue();
    // Publishes onAirOrOnItsWay() when the records have changed it.
    void publishOnAirOrOnItsWay();

    platform::RunLoop& loop_;
    std::shared_ptr<const platform::WallClock> wallClock_;
    platform::media::MediaFactory& media_;
    platform::audio::AudioEngine engine_;
    VideoColorCompositor compositor_;
    std::unique_ptr<AudioEngineController> audioA_;
    std::unique_ptr<AudioEngineController> audioB_;
    std::unique_ptr<PlaybackSlot> slotA_;
    std::unique_ptr<PlaybackSlot> slotB_;
    std::shared_ptr<platform::Layer> root_;
    std::shared_ptr<platform::Layer> held_;
    platform::Compositor heldCompositor_;

    bool isWarming_ = false;
    std::optional<OnAir> foreground_;
    std::optional<Cue> background_;
    platform::Published<std::optional<SlotRef>> onAirOrOnItsWay_;
    platform::SizeF monitorSize_ = kDefaultMonitorSize;
    bool showingA_ = true;
    std::uint64_t dissolveGeneration_ = 0;
    std::optional<AppliedGeometry> appliedA_;
    std::optional<AppliedGeometry> appliedB_;
    platform::TimerHandle fadeInCleanup_;
    platform::TimerHandle outgoingSoundStop_;

    // Deferred steps hold this weakly.
    std::shared_ptr<OutputSurface*> self_ = std::make_shared<OutputSurface*>(this);
};

}  // namespace kestio::output
