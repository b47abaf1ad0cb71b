#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/audio/audio_format.h"
#include "platform/audio/tap_dispatcher.h"

namespace kestio::platform::audio {

class AudioEngine;
class MixingGain;
class RenderKernel;

// What a node's processing is prepared for: the format of its input links (equal to the
// output for nodes that do not convert), of its output, and the largest block it renders.
struct KernelSetup {
    AudioFormat input;
    AudioFormat output;
    uint32_t maxFrames = 0;
    bool operator==(const KernelSetup&) const = default;
};

// A unit of the audio graph. Nodes are made by the caller, attached to one engine and
// connected there; every method runs on the main thread. Each node has one output bus (0).
class AudioNode {
  public:
    virtual ~AudioNode();
    AudioNode(const AudioNode&) = delete;
    AudioNode& operator=(const AudioNode&) = delete;

    // The engine the node is attached to, or null.
    AudioEngine* engine() const { return engine_; }
    // The format of the link leaving output `bus`; channel count 0 while it is not connected.
    virtual AudioFormat outputFormat(uint32_t bus) const;
    // The format of the link entering input `bus`; channel count 0 while it is not connected.
    virtual AudioFormat inputFormat(uint32_t bus) const;

    // Installs a tap on output bus `bus` (only 0 exists): `block` gets copies of what the node
    // renders, in blocks of exactly `bufferSize` frames, on the engine's tap thread. Where the
    // node falls silent (it has nothing to play) the block is filled up with zeros and one
    // block of zeros follows; then no blocks come until the node sounds again. `format`, when
    // given, must match the output link's rate and channel count if the output is connected. A tap
    // already on the bus is replaced. Returns the reason when it cannot be installed (node not
    // attached, no such bus, format mismatch).
    std::optional<std::string> installTap(uint32_t bus, uint32_t bufferSize,
                                          std::optional<AudioFormat> format, TapBlock block);
    // Removes the tap on `bus`. After this returns its block is not running and never runs
    // again. Nothing happens when there is no tap.
    void removeTap(uint32_t bus);

  protected:
    AudioNode() = default;

    // Input busses the node offers (the mixer offers many).
    virtual uint32_t inputBusCount() const = 0;
    // Makes the node's render-thread processing for a link format and largest block.
    virtual std::shared_ptr<RenderKernel> makeKernel(const KernelSetup& setup) = 0;
    // The largest block the node pulls from its input when it renders `frames` frames.
    virtual uint32_t maxInputFrames(const KernelSetup& setup) const { return setup.maxFrames; }
    // The gain a mixer applies where a chain starting at this node enters it (null: unity).
    virtual std::shared_ptr<MixingGain> mixingGain() const { return nullptr; }
    // Why the node cannot send `format` from its output, or nothing when it can.
    virtual std::optional<std::string> checkOutputFormat(const AudioFormat& /*format*/) const {
        return std::nullopt;
    }
    // Told on the main thread when the node is part of a new plan with this output link.
    virtual void willRenderTo(const AudioFormat& /*output*/) {}
    // Every change the node's render step reads (a schedule, a start, a gain, a filter, a
    // rate) says so here: it may give the chain something to play, so the engine's output
    // stops resting, if it does (AudioEngine::wakeOutput()). Nothing while not attached.
    void changed() const;

  private:
    friend class AudioEngine;

    // The processing for `setup`, kept from the previous plan when the setup is unchanged so
    // that filter state, stretcher state and read positions carry over.
    std::shared_ptr<RenderKernel> kernelFor(const KernelSetup& setup);

    AudioEngine* engine_ = nullptr;
    std::shared_ptr<RenderKernel> kernel_;
    KernelSetup kernelSetup_;
};

}  // namespace kestio::platform::audio
