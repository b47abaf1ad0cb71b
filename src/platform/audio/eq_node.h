#pragma once

#include <atomic>
#include <memory>

#include "platform/audio/audio_node.h"

namespace kestio::platform::audio {

// One band of an EQNode.
struct EQBand {
    enum class FilterType { Parametric };

    FilterType filterType = FilterType::Parametric;
    float frequency = 1000.0f;  // Hz
    float bandwidth = 1.0f;     // octaves
    float gain = 0.0f;          // dB
    bool bypass = false;
    bool operator==(const EQBand&) const = default;
};

// A parametric equaliser: every band is a peaking biquad of the audio EQ cookbook (gain at the
// centre frequency, bandwidth in octaves), in double precision. A band at 0 dB is exactly
// transparent; a bypassed band is left out. Band changes apply from the next block with the
// filter state kept; the coefficients follow the link's sample rate. Its input and output
// links carry one format.
class EQNode final : public AudioNode {
  public:
    explicit EQNode(int numberOfBands);

    int bandCount() const;
    // The band's settings; a default band for an index out of range.
    EQBand band(int index) const;
    // Changes a band (ignored for an index out of range or non-finite values).
    void setBand(int index, const EQBand& band);

    struct Parameters;

  private:
    uint32_t inputBusCount() const override { return 1; }
    std::shared_ptr<RenderKernel> makeKernel(const KernelSetup& setup) override;

    std::shared_ptr<Parameters> parameters_;
};

}  // namespace kestio::platform::audio
