// A 5.1 file played on a stereo output is downmixed as its waveform is drawn: the fronts go to
// their sides, the centre to both at -3 dB, each surround to its side at -3 dB, and the LFE
// nowhere. Whether the player adapts the channels (its link in stereo) or the main mixer does
// (the link in the file's six channels), the result is the same.

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "engine_rig.h"
#include "platform/audio/audio_file.h"
#include "support/signal_analysis.h"
#include "support/temporary_folder.h"

namespace kestio::test {
namespace {

using platform::audio::AudioFile;
using platform::audio::AudioFormat;

constexpr double kRate = 48000.0;
constexpr double kFrequency = 1000.0;
constexpr double kAmplitude = 0.4;
const double kMinus3dB = std::sqrt(0.5);

struct SurroundCase {
    const char* name;
    uint32_t channel;  // in the usual 5.1 order: FL FR FC LFE BL BR
    double left;       // gain of that channel in each output
    double right;
    friend void PrintTo(const SurroundCase& c, std::ostream* out) { *out << c.name; }
};

const SurroundCase kCases[] = {
    {"FrontLeft", 0, 1.0, 0.0},          {"FrontRight", 1, 0.0, 1.0},
    {"Centre", 2, kMinus3dB, kMinus3dB}, {"Lfe", 3, 0.0, 0.0},
    {"BackLeft", 4, kMinus3dB, 0.0},     {"BackRight", 5, 0.0, kMinus3dB},
};

// A six-channel file, silent but for a tone in `channel`.
std::shared_ptr<AudioFile> surroundFile(const TemporaryFolder& folder, uint32_t channel) {
    std::vector<std::vector<float>> channels(6, std::vector<float>(24000, 0.0f));
    channels[channel] = sineWave(kFrequency, kRate, 24000, kAmplitude);
    const auto path = folder.path() / "surround.caf";
    {
        auto file = AudioFile::openForWriting(path, AudioFormat{kRate, 6, false});
        EXPECT_TRUE(file && file->write(*bufferOf(channels, kRate)));
    }
    return AudioFile::openForReading(path);
}

class SurroundDownmix : public ::testing::TestWithParam<std::tuple<SurroundCase, bool>> {};

TEST_P(SurroundDownmix, EachChannelReachesTheSidesAtItsLevel) {
    const auto& [c, linkInFileFormat] = GetParam();
    TemporaryFolder folder;
    const auto file = surroundFile(folder, c.channel);
    ASSERT_TRUE(file);
    ASSERT_EQ(file->processingFormat().channelCount, 6u);

    EngineRig rig;
    auto player = rig.makePlayer();
    const AudioFormat link = linkInFileFormat ? file->processingFormat() : AudioFormat{kRate, 2};
    ASSERT_FALSE(rig.engine.connect(player, rig.engine.mainMixerNode(), link));
    ASSERT_FALSE(rig.engine.start());
    player->scheduleSegment(file, 0, uint64_t(file->length()));
    player->play();
    rig.pull(24000, 480);

    const double left = toneAmplitude(rig.channel(0).subspan(2400, 19200), kRate, kFrequency);
    const double right = toneAmplitude(rig.channel(1).subspan(2400, 19200), kRate, kFrequency);
    EXPECT_NEAR(left, kAmplitude * c.left, 1e-3) << "left";
    EXPECT_NEAR(right, kAmplitude * c.right, 1e-3) << "right";
}

INSTANTIATE_TEST_SUITE_P(FivePointOne, SurroundDownmix,
                         ::testing::Combine(::testing::ValuesIn(kCases), ::testing::Bool()),
                         [](const auto& param) {
                             return std::string(std::get<0>(param.param).name) +
                                    (std::get<1>(param.param) ? "_MixerMixes" : "_PlayerMixes");
                         });

}  // namespace
}  // namespace kestio::test
