#include "platform/audio/audio_engine.h"

#include <algorithm>
#include <cstring>
#include <deque>

#include "platform/audio/denormal_guard.h"
#include "platform/audio/mixer_node.h"
#include "platform/audio/mixing_gain.h"
#include "platform/audio/output_node.h"
#include "platform/audio/render_helper_pool.h"
#include "platform/audio/render_step.h"
#include "platform/runloop/usable_cores.h"

namespace kestio::platform::audio {

// One immutable picture of the graph for the render thread: the steps from the main mixer
// upwards, and everything they use, kept alive until the render thread has let go of it.
struct RenderPlan {
    AudioFormat format;
    std::deque<RenderStep> steps;
    std::deque<std::vector<RenderStep*>> inputLists;
    std::vector<std::shared_ptr<RenderKernel>> kernels;
    std::vector<std::shared_ptr<TapRing>> taps;
    std::vector<std::shared_ptr<MixingGain>> gains;
    RenderStep* root = nullptr;
    // The time of each chain entering the main mixer (in the order of root->inputs): the
    // engine's, copied in before every part, which the chain's steps change and put back.
    std::deque<RenderTime> chainTimes;
};

namespace {

// The chains of one part, rendered ahead of the main mixer by the render thread and helpers.
struct ChainPart {
    std::span<RenderStep* const> chains;
    uint32_t frames = 0;

    static void render(void* context, uint32_t index) noexcept {
        const auto& part = *static_cast<const ChainPart*>(context);
        part.chains[index]->prepare(part.frames);
    }
};

}  // namespace

AudioEngine::ChangeBatch::ChangeBatch(AudioEngine& engine) : engine_(engine) {
    ++engine_.batchDepth_;
}

AudioEngine::ChangeBatch::~ChangeBatch() {
    if (--engine_.batchDepth_ == 0 && engine_.changedDuringBatch_) {
        engine_.changedDuringBatch_ = false;
        engine_.graphChanged();
    }
}

AudioEngine::AudioEngine(std::shared_ptr<AudioOutputDevice> device,
                         std::optional<uint32_t> renderHelpers)
    : device_(std::move(device)),
      mixer_(std::make_shared<MixerNode>()),
      output_(std::make_shared<OutputNode>()),
      outputFormat_(device_->renderFormat()),
      clock_(std::make_shared<EngineClock>(device_->hostNow(), ClockTime())),
      helpers_(std::make_unique<RenderHelperPool>(
          renderHelpers.value_or(RenderHelperPool::helpersFor(usableCores())))) {
    positionRate_ = outputFormat_.sampleRate > 0.0 ? outputFormat_.sampleRate : 48000.0;
    for (const std::shared_ptr<AudioNode>& node :
         {std::shared_ptr<AudioNode>(mixer_), std::shared_ptr<AudioNode>(output_)}) {
        node->engine_ = this;
        nodes_.push_back(node);
    }
    links_.push_back(Link{mixer_.get(), output_.get(), 0, outputFormat_});
    deviceSubscription_ =
        device_->defaultOutput.subscribe([this](const OutputDeviceInfo&) { onDeviceChanged(); });
    graphChanged();
}

AudioEngine::~AudioEngine() {
    stop();
    deviceSubscription_.reset();
    collectRetiredPlans();
    delete pendingPlan_.exchange(nullptr);
    delete currentPlan_;
    currentPlan_ = nullptr;
    tapDispatcher_.reset();
    for (const auto& node : nodes_) {
        node->engine_ = nullptr;
    }
}

void AudioEngine::attach(const std::shared_ptr<AudioNode>& node) {
    if (!node || node->engine_ != nullptr) {
        return;
    }
    node->engine_ = this;
    nodes_.push_back(node);
}

void AudioEngine::detach(const std::shared_ptr<AudioNode>& node) {
    if (!node || node->engine_ != this || node == mixer_ || node == output_) {
        return;
    }
    const auto batch = batchChanges();
    removeTap(*node);
    removeLinksOf(*node);
    mixer_->forgetConverter(*node);
    node->engine_ = nullptr;
    std::erase(nodes_, node);
    graphChanged();
}

bool AudioEngine::isAttached(const AudioNode& node) const {
    return node.engine_ == this;
}

std::vector<std::shared_ptr<AudioNode>> AudioEngine::attachedNodes() const {
    return nodes_;
}

const AudioEngine::Link* AudioEngine::linkFrom(const AudioNode& node) const {
    for (const auto& link : links_) {
        if (link.source == &node) {
            return &link;
        }
    }
    return nullptr;
}

const AudioEngine::Link* AudioEngine::linkInto(const AudioNode& node, uint32_t bus) const {
    for (const auto& link : links_) {
        if (link.destination == &node && link.bus == bus) {
            return &link;
        }
    }
    return nullptr;
}

bool AudioEngine::isUpstream(const AudioNode& candidate, const AudioNode& of) const {
    for (const auto& link : links_) {
        if (link.destination == &of &&
            (link.source == &candidate || isUpstream(candidate, *link.source))) {
            return true;
        }
    }
    return false;
}

void AudioEngine::removeLinksOf(const AudioNode& node) {
    std::erase_if(links_, [&](const Link& link) {
        return link.source == &node || link.destination == &node;
    });
}

std::optional<std::string> AudioEngine::connect(const std::shared_ptr<AudioNode>& source,
                                                const std::shared_ptr<AudioNode>& destination,
                                                const AudioFormat& requested) {
    if (!source || !destination || source->engine_ != this || destination->engine_ != this) {
        return "both nodes must be attached to this engine";
    }
    if (source == destination || source == output_ || source == mixer_ || destination == output_) {
        return "the main mixer and the output node are linked by the engine";
    }
    AudioFormat format = requested;
    format.interleaved = false;
    if (!format.isValid()) {
        return "the link format is not valid";
    }
    if (auto why = source->checkOutputFormat(format)) {
        return why;
    }
    if (isUpstream(*destination, *source)) {
        return "the link would make a cycle";
    }
    // A chain carries one format: what enters the source leaves it, and what enters the
    // destination leaves it (the main mixer converts).
    if (const Link* in = linkInto(*source, 0); in && !(in->format == format)) {
        return "the link format differs from the format entering the source";
    }
    const bool intoMixer = destination == mixer_;
    if (const Link* out = linkFrom(*destination); !intoMixer && out && !(out->format == format)) {
        return "the link format differs from the format leaving the destination";
    }

    std::erase_if(links_, [&](const Link& link) {
        return link.source == source.get() || (!intoMixer && link.destination == destination.get());
    });
    uint32_t bus = 0;
    if (intoMixer) {
        while (linkInto(*mixer_, bus) != nullptr) {
            ++bus;
        }
    }
    links_.push_back(Link{source.get(), destination.get(), bus, format});
    graphChanged();
    return std::nullopt;
}

void AudioEngine::disconnectNodeOutput(const std::shared_ptr<AudioNode>& node) {
    if (!node || node->engine_ != this || node == mixer_) {
        return;
    }
    const auto before = links_.size();
    std::erase_if(links_, [&](const Link& link) { return link.source == node.get(); });
    if (links_.size() != before) {
        mixer_->forgetConverter(*node);
        graphChanged();
    }
}

std::shared_ptr<MixingGain> AudioEngine::chainGain(const AudioNode& source) const {
    const AudioNode* node = &source;
    while (node != nullptr) {
        if (auto gain = node->mixingGain()) {
            return gain;
        }
        const Link* in = linkInto(*node, 0);
        node = in != nullptr ? in->source : nullptr;
    }
    return nullptr;
}

std::optional<std::string> AudioEngine::installTap(AudioNode& node, uint32_t bufferSize,
                                                   std::optional<AudioFormat> format,
                                                   TapBlock block) {
    if (&node == output_.get()) {
        return "taps on the output node are not supported; tap the main mixer";
    }
    if (bufferSize == 0 || !block) {
        return "a tap needs a block and a buffer size";
    }
    if (format) {
        const AudioFormat current = node.outputFormat(0);
        if (current.channelCount != 0 && !current.sameStream(*format)) {
            return "the tap format differs from the node's output format";
        }
    }
    if (!tapDispatcher_) {
        tapDispatcher_ = std::make_unique<TapDispatcher>();
    }
    const auto batch = batchChanges();
    removeTap(node);
    taps_[&node] = tapDispatcher_->add(bufferSize, std::move(block));
    graphChanged();
    return std::nullopt;
}

void AudioEngine::removeTap(const AudioNode& node) {
    auto it = taps_.find(&node);
    if (it == taps_.end()) {
        return;
    }
    tapDispatcher_->remove(it->second.get());
    taps_.erase(it);
    graphChanged();
}

void AudioEngine::onDeviceChanged() {
    const AudioFormat format = device_->renderFormat();
    if (format == outputFormat_) {
        return;
    }
    outputFormat_ = format;
    for (auto& link : links_) {
        if (link.source == mixer_.get()) {
            link.format = format;
        }
    }
    graphChanged();
}

std::optional<std::string> AudioEngine::start() {
    if (running_) {
        return std::nullopt;
    }
    collectRetiredPlans();
    if (RenderPlan* pending = pendingPlan_.exchange(nullptr)) {
        delete currentPlan_;
        currentPlan_ = pending;
    }
    restarted_.store(true, std::memory_order_release);
    wakes_.fetch_add(1);
    if (auto error = device_->start(*this)) {
        return error;
    }
    running_ = true;
    return std::nullopt;
}

void AudioEngine::wakeOutput() {
    // Counted before the device looks whether it rests: a device deciding to rest at the same
    // moment sees the count moved (mayRest()), or is seen resting and woken.
    wakes_.fetch_add(1);
    device_->wake();
}

bool AudioEngine::mayRest() const noexcept {
    return silentSeconds_ >= kRestAfterSeconds && wakes_.load() == wakesSeen_;
}

void AudioEngine::stop() {
    if (!running_) {
        return;
    }
    device_->stop();
    running_ = false;
    collectRetiredPlans();
    if (RenderPlan* pending = pendingPlan_.exchange(nullptr)) {
        delete currentPlan_;
        currentPlan_ = pending;
    }
}

void AudioEngine::graphChanged() {
    if (batchDepth_ > 0) {
        changedDuringBatch_ = true;
        return;
    }
    publish(buildPlan());
}

std::unique_ptr<RenderPlan> AudioEngine::buildPlan() {
    auto plan = std::make_unique<RenderPlan>();
    plan->format = outputFormat_;

    // Builds the step of `node` rendering with `setup` at `time`, and the steps it pulls from.
    auto build = [&](auto& self, AudioNode& node, const KernelSetup& setup,
                     RenderTime* time) -> RenderStep* {
        auto kernel = node.kernelFor(setup);
        node.willRenderTo(setup.output);
        RenderStep& step = plan->steps.emplace_back();
        step.time = time;
        step.kernel = kernel.get();
        step.format = setup.output;
        plan->kernels.push_back(std::move(kernel));
        if (auto tap = taps_.find(&node); tap != taps_.end()) {
            step.tap = tap->second.get();
            plan->taps.push_back(tap->second);
        }

        std::vector<const Link*> inputs;
        for (const auto& link : links_) {
            if (link.destination == &node) {
                inputs.push_back(&link);
            }
        }
        std::sort(inputs.begin(), inputs.end(),
                  [](const Link* a, const Link* b) { return a->bus < b->bus; });

        auto& inputSteps = plan->inputLists.emplace_back();
        for (const Link* link : inputs) {
            if (&node == mixer_.get()) {
                const KernelSetup sourceSetup{link->format, link->format,
                                              MixerNode::inputFramesFor(link->format, setup)};
                RenderTime* chainTime = &plan->chainTimes.emplace_back();
                RenderStep* source = self(self, *link->source, sourceSetup, chainTime);
                RenderStep* input = source;
                if (auto converter = mixer_->converterFor(*link->source, link->format, setup)) {
                    RenderStep& convert = plan->steps.emplace_back();
                    convert.time = chainTime;
                    convert.kernel = converter.get();
                    convert.format = setup.output;
                    convert.inputs = plan->inputLists.emplace_back(1, source);
                    plan->kernels.push_back(std::move(converter));
                    input = &convert;
                }
                if (auto gain = chainGain(*link->source)) {
                    input->gain = gain.get();
                    plan->gains.push_back(std::move(gain));
                }
                inputSteps.push_back(input);
            } else {
                const KernelSetup sourceSetup{link->format, link->format,
                                              node.maxInputFrames(setup)};
                inputSteps.push_back(self(self, *link->source, sourceSetup, time));
            }
        }
        step.inputs = inputSteps;
        return &step;
    };
    plan->root =
        build(build, *mixer_, KernelSetup{outputFormat_, outputFormat_, kMaxFramesPerRender},
              &renderTime_);
    return plan;
}

void AudioEngine::publish(std::unique_ptr<RenderPlan> plan) {
    collectRetiredPlans();
    if (!running_) {
        delete pendingPlan_.exchange(nullptr);
        delete currentPlan_;
        currentPlan_ = plan.release();
        return;
    }
    // A plan the render thread has not picked up yet was never used: free it here.
    delete pendingPlan_.exchange(plan.release(), std::memory_order_acq_rel);
    wakeOutput();
}

void AudioEngine::collectRetiredPlans() {
    RenderPlan* plan = nullptr;
    while (retiredPlans_.pop(plan)) {
        delete plan;
    }
}

void AudioEngine::render(const RenderBlock& block) noexcept {
    const DenormalGuard denormalsAreZero;
    // A plan made for another format waits until the device renders at it: after a change of
    // device the render thread may render a few blocks at the old format, and the old plan
    // serves them.
    const auto fits = [&block](const RenderPlan* plan) {
        return plan != nullptr && plan->format.channelCount == block.channelCount &&
               plan->format.sampleRate == block.sampleRate;
    };
    if (RenderPlan* pending = pendingPlan_.load(std::memory_order_acquire);
        pending != nullptr && !retiredPlans_.full() && (fits(pending) || !fits(currentPlan_))) {
        if (RenderPlan* next = pendingPlan_.exchange(nullptr, std::memory_order_acq_rel)) {
            if (currentPlan_ != nullptr) {
                retiredPlans_.push(currentPlan_);
            }
            currentPlan_ = next;
        }
    }
    if (block.frames == 0 || !(block.sampleRate > 0.0)) {
        return;
    }

    if (block.sampleRate != positionRate_) {
        positionBase_ = position();
        positionRate_ = block.sampleRate;
        framesAtRate_ = 0;
    }
    // After a start, or when the device fell far behind the clock (it stalled), the position
    // moves up to the clock: the time in between was not heard, and the clock does not wait.
    const double heard = clock_->timeAt(block.heardAt).seconds();
    const bool restarted = restarted_.exchange(false, std::memory_order_acq_rel) ||
                           heard - position() > EngineClock::kSnapSeconds;
    if (restarted && heard > position()) {
        positionBase_ = heard;
        framesAtRate_ = 0;
    }
    clock_->adjust(ClockTime(position()), block.heardAt, block.hostNow, restarted);

    RenderPlan* plan = currentPlan_;
    const uint32_t channelCount = block.channelCount;
    const uint32_t frames = block.frames;
    if (!fits(plan)) {
        for (uint32_t c = 0; c < channelCount; ++c) {
            std::memset(block.channels[c], 0, frames * sizeof(float));
        }
        framesAtRate_ += frames;
    } else {
        uint32_t offset = 0;
        do {
            const uint32_t n = std::min(frames - offset, kMaxFramesPerRender);
            renderTime_.start = position();
            renderTime_.pace = 1.0;
            renderTime_.part = renderTime_.newPart();
            const float* const* out = renderPart(*plan, n);
            for (uint32_t c = 0; c < channelCount; ++c) {
                std::memcpy(block.channels[c] + offset, out[c], n * sizeof(float));
            }
            offset += n;
            framesAtRate_ += n;
        } while (offset < frames);
    }
    renderedFrames_.fetch_add(frames, std::memory_order_relaxed);
    renderedPosition_.store(position(), std::memory_order_relaxed);
    // Time counts toward a rest only while no chain has anything to play, and from the last
    // wake on.
    if (const uint64_t wakes = wakes_.load(); wakes != wakesSeen_) {
        wakesSeen_ = wakes;
        silentSeconds_ = 0.0;
    }
    const bool idle = !fits(plan) || nothingPlays(*plan);
    silentSeconds_ = idle ? silentSeconds_ + double(frames) / block.sampleRate : 0.0;
}

bool AudioEngine::nothingPlays(const RenderPlan& plan) noexcept {
    // Each chain, not the mix: a chain the mix holds at gain 0 (muted, its level at the
    // bottom) still plays, and a rest would stop its time; its gain may rise at any moment.
    return std::all_of(plan.root->inputs.begin(), plan.root->inputs.end(),
                       [](const RenderStep* chain) { return chain->silent(); });
}

const float* const* AudioEngine::renderPart(RenderPlan& plan, uint32_t frames) noexcept {
    for (RenderTime& time : plan.chainTimes) {
        time = renderTime_;
    }
    // Side by side only when it pays: waking the helpers costs more than a chain that has
    // nothing to play, or a single chain that sounds.
    const std::span<RenderStep* const> chains = plan.root->inputs;
    std::size_t sounding = 0;
    for (const RenderStep* chain : chains) {
        sounding += chain->silent() ? 0 : 1;
    }
    if (sounding >= 2 && helpers_->helperCount() > 0) {
        ChainPart part{chains, frames};
        helpers_->run(uint32_t(chains.size()), &ChainPart::render, &part);
    }
    const float* const* out = plan.root->pull(frames);
    // The chains numbered their own parts on from the engine's: later parts take numbers above
    // all of them, so that no node sees a number again.
    for (const RenderTime& time : plan.chainTimes) {
        renderTime_.lastPart = std::max(renderTime_.lastPart, time.lastPart);
    }
    return out;
}

}  // namespace kestio::platform::audio
