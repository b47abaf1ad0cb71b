#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/audio/audio_format.h"
#include "platform/audio/audio_node.h"
#include "platform/audio/audio_output_device.h"
#include "platform/audio/engine_clock.h"
#include "platform/audio/render_step.h"
#include "platform/audio/spsc_queue.h"
#include "platform/audio/tap_dispatcher.h"
#include "platform/runloop/published.h"
#include "platform/runloop/time_types.h"

namespace kestio::platform::audio {

class MixerNode;
class MixingGain;
class OutputNode;
class RenderHelperPool;
struct RenderPlan;

// The audio graph: nodes attached to it, links between them, and one main mixer whose output
// goes to the output device. The device's render thread pulls the graph block by block.
//
// Every method runs on the main thread. Graph changes (attach, detach, connect, disconnect,
// taps, a device format change) build a new render plan on the main thread and hand it to the
// render thread, which picks it up between two blocks; a running engine keeps playing
// through them. Nodes whose link format is unchanged keep their state (positions, filters,
// stretcher) across plans.
//
// Threads: node render steps and source-node callbacks run on the device's render thread, or,
// when two or more chains entering the main mixer sound, on the engine's render helpers: each
// block the render thread and the helpers render those chains side by side (one thread per
// chain and block), then the render thread sums them in the main mixer, in order, exactly as it
// would have summed them rendered one after another. Tap blocks run on the engine's tap
// thread; player completions on each player's read-ahead thread.
class AudioEngine final : private AudioRenderCallback {
  public:
    // The largest block a node is asked for; devices asking for more are served in parts.
    static constexpr uint32_t kMaxFramesPerRender = 4096;

    // `renderHelpers` threads help the render thread (by default as many as the CPUs the
    // process may run on make worth it: RenderHelperPool::helpersFor).
    explicit AudioEngine(std::shared_ptr<AudioOutputDevice> device,
                         std::optional<uint32_t> renderHelpers = std::nullopt);
    ~AudioEngine();
    AudioEngine(const AudioEngine&) = delete;
    AudioEngine& operator=(const AudioEngine&) = delete;

    // Takes a node into the graph (a node belongs to at most one engine; attaching it twice
    // does nothing).
    void attach(const std::shared_ptr<AudioNode>& node);
    // Disconnects a node's links and taps and lets it go.
    void detach(const std::shared_ptr<AudioNode>& node);
    bool isAttached(const AudioNode& node) const;
    std::vector<std::shared_ptr<AudioNode>> attachedNodes() const;

    // Links `source`'s output to `destination`'s next free input with `format` (samples are
    // always non-interleaved float). A link already leaving `source`, or already entering a
    // single-input destination, is replaced. Links between nodes other than the main mixer
    // must carry one format through a chain; the main mixer accepts any rate and channel
    // count and converts each input to its output. Returns the reason when the link cannot be
    // made (node not attached, a cycle, a format that does not fit).
    std::optional<std::string> connect(const std::shared_ptr<AudioNode>& source,
                                       const std::shared_ptr<AudioNode>& destination,
                                       const AudioFormat& format);
    // Removes the link leaving `node`, if any.
    void disconnectNodeOutput(const std::shared_ptr<AudioNode>& node);

    // The mixer that sums every chain; its output is the device's format.
    const std::shared_ptr<MixerNode>& mainMixerNode() const { return mixer_; }
    // The device's end of the graph; its formats are the device's format.
    const std::shared_ptr<OutputNode>& outputNode() const { return output_; }
    // The device's current rate and channel count, which the main mixer renders at.
    AudioFormat outputFormat() const { return outputFormat_; }
    AudioOutputDevice& device() const { return *device_; }

    // Starts the device pulling the graph. Returns the reason when it cannot start.
    std::optional<std::string> start();
    // Stops the device; nodes keep their schedules and state.
    void stop();
    bool isRunning() const { return running_; }
    // Frames rendered since the engine was made; it keeps counting across device changes.
    uint64_t renderedFrames() const { return renderedFrames_.load(std::memory_order_relaxed); }
    // The engine's media clock: the engine position, in seconds, of the sample heard at a host
    // time (the device's scale, AudioOutputDevice::hostNow()). The position counts rendered
    // frames as seconds at the rate they were rendered at; a start after a stop, or a device
    // that fell behind the clock by more than EngineClock::kSnapSeconds, carries it forward by
    // the time nothing was heard, so the clock, which runs on host time meanwhile, does not
    // wait for it. The same object for the engine's life.
    std::shared_ptr<const MediaClock> clock() const { return clock_; }
    // The engine position, in seconds, just after the last frame rendered: ahead of the clock
    // by what the device still has to play.
    ClockTime renderedPosition() const {
        return ClockTime(renderedPosition_.load(std::memory_order_relaxed));
    }

    // How long no chain entering the main mixer has anything to play before the device may
    // rest (see AudioRenderCallback::mayRest()). Whether sound may be heard is decided here
    // alone: from what the chains play (a chain the mix holds at gain 0 plays on), and from
    // wakeOutput(), the one door of every change that may give a chain something to play.
    static constexpr double kRestAfterSeconds = 1.0;
    // Something may sound from now on: the device stops resting, if it does. Starts, graph
    // changes and every change a node's render step reads (AudioNode::changed()) call it;
    // any thread.
    void wakeOutput();

    // Holds back the hand-over of graph changes until the batch ends, so that a rewiring of
    // several steps reaches the render thread as one change.
    class ChangeBatch {
      public:
        explicit ChangeBatch(AudioEngine& engine);
        ~ChangeBatch();
        ChangeBatch(const ChangeBatch&) = delete;
        ChangeBatch& operator=(const ChangeBatch&) = delete;

      private:
        AudioEngine& engine_;
    };
    [[nodiscard]] ChangeBatch batchChanges() { return ChangeBatch(*this); }

  private:
    friend class AudioNode;

    struct Link {
        AudioNode* source = nullptr;
        AudioNode* destination = nullptr;
        uint32_t bus = 0;
        AudioFormat format;
    };

    void render(const RenderBlock& block) noexcept override;
    bool mayRest() const noexcept override;
    // Whether no chain entering the main mixer played anything in the last part rendered.
    static bool nothingPlays(const RenderPlan& plan) noexcept;
    // The render thread's position, in seconds.
    double position() const noexcept {
        return positionBase_ + double(framesAtRate_) / positionRate_;
    }

    std::optional<std::string> installTap(AudioNode& node, uint32_t bufferSize,
                                          std::optional<AudioFormat> format, TapBlock block);
    void removeTap(const AudioNode& node);
    const Link* linkFrom(const AudioNode& node) const;
    const Link* linkInto(const AudioNode& node, uint32_t bus) const;
    bool isUpstream(const AudioNode& candidate, const AudioNode& of) const;
    std::shared_ptr<MixingGain> chainGain(const AudioNode& source) const;
    void removeLinksOf(const AudioNode& node);
    void onDeviceChanged();

    void graphChanged();
    std::unique_ptr<RenderPlan> buildPlan();
    void publish(std::unique_ptr<RenderPlan> plan);
    void collectRetiredPlans();
    // Renders the part of `frames` frames of `plan`, into the main mixer's output.
    const float* const* renderPart(RenderPlan& plan, uint32_t frames) noexcept;

    std::shared_ptr<AudioOutputDevice> device_;
    std::shared_ptr<MixerNode> mixer_;
    std::shared_ptr<OutputNode> output_;
    std::vector<std::shared_ptr<AudioNode>> nodes_;
    std::vector<Link> links_;
    std::map<const AudioNode*, std::shared_ptr<TapRing>> taps_;
    std::unique_ptr<TapDispatcher> tapDispatcher_;
    AudioFormat outputFormat_;
    Subscription deviceSubscription_;
    bool running_ = false;
    int batchDepth_ = 0;
    bool changedDuringBatch_ = false;

    // Hand-over of plans: the main thread offers the newest plan in pendingPlan_; the render
    // thread adopts it between blocks and returns the one it replaced through retiredPlans_,
    // which the main thread frees. While the engine is stopped the main thread owns
    // currentPlan_.
    std::atomic<RenderPlan*> pendingPlan_{nullptr};
    RenderPlan* currentPlan_ = nullptr;
    SpscQueue<RenderPlan*> retiredPlans_{16};
    std::atomic<uint64_t> renderedFrames_{0};

    // Time: the clock and, on the render thread, the engine position (frames rendered at the
    // current rate on top of the position where that rate began) and the time of the part being
    // rendered. A start asks the render thread to carry the position up to the clock.
    std::shared_ptr<EngineClock> clock_;
    std::atomic<bool> restarted_{true};
    double positionBase_ = 0.0;
    double positionRate_ = 48000.0;
    uint64_t framesAtRate_ = 0;
    RenderTime renderTime_;
    std::atomic<double> renderedPosition_{0.0};
    std::unique_ptr<RenderHelperPool> helpers_;
    // Rest: wakes asked for (any thread), and on the render thread the wakes seen and the
    // seconds of silence rendered since the last of them.
    std::atomic<uint64_t> wakes_{0};
    uint64_t wakesSeen_ = 0;
    double silentSeconds_ = 0.0;
};

}  // namespace kestio::platform::audio
