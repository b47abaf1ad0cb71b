// A file read through a channel selection reads as the selected channels, at every position,
// and a player node playing a segment of it plays the same selection (its read-ahead opens a
// reader of its own).

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "engine_rig.h"
#include "platform/audio/audio_file.h"
#include "support/signal_analysis.h"
#include "support/temporary_folder.h"

namespace kestio::test {
namespace {

using platform::audio::AudioFile;
using platform::audio::AudioFormat;
using platform::audio::ChannelMap;
using platform::audio::PcmBuffer;

constexpr double kRate = 48000.0;
constexpr uint32_t kFrames = 9600;

// Source channel c holds the constant (c + 1) / 10, so every output sample names its source.
float levelOf(int source) {
    return source < 0 ? 0.0f : float(source + 1) / 10.0f;
}

std::filesystem::path writeSixChannels(const TemporaryFolder& folder) {
    std::vector<std::vector<float>> channels;
    for (int c = 0; c < 6; ++c) {
        channels.emplace_back(kFrames, levelOf(c));
    }
    const auto path = folder.path() / "six.caf";
    auto file = AudioFile::openForWriting(path, AudioFormat{kRate, 6, false});
    EXPECT_TRUE(file && file->write(*bufferOf(channels, kRate)));
    return path;
}

struct SelectionCase {
    const char* name;
    ChannelMap selection;
    friend void PrintTo(const SelectionCase& c, std::ostream* out) { *out << c.name; }
};

const SelectionCase kSelections[] = {
    {"FirstTwo", {0, 1}},     {"MonoToBoth", {0, 0}}, {"SecondThenSilence", {1, -1}},
    {"Reordered", {5, 2, 3}}, {"Single", {4}},
};

class ChannelSelection : public ::testing::TestWithParam<SelectionCase> {};

TEST_P(ChannelSelection, ReadsTheSelectedChannelsAtAnyPosition) {
    TemporaryFolder folder;
    const auto& selection = GetParam().selection;
    std::string error;
    auto file = AudioFile::openForReading(writeSixChannels(folder), selection, &error);
    ASSERT_TRUE(file) << error;
    EXPECT_EQ(file->processingFormat(), (AudioFormat{kRate, uint32_t(selection.size()), false}));
    EXPECT_EQ(file->sourceChannelCount(), 6u);
    EXPECT_EQ(file->length(), int64_t(kFrames));

    for (const int64_t position : {int64_t(0), int64_t(4321), int64_t(kFrames - 10)}) {
        auto buffer = PcmBuffer::make(file->processingFormat(), 100);
        file->setFramePosition(position);
        ASSERT_TRUE(file->read(*buffer, 100, &error)) << error;
        ASSERT_EQ(buffer->frameLength(), std::min<uint32_t>(100, uint32_t(kFrames - position)));
        for (uint32_t c = 0; c < selection.size(); ++c) {
            for (uint32_t n = 0; n < buffer->frameLength(); ++n) {
                ASSERT_EQ(buffer->channel(c)[n], levelOf(selection[c]))
                    << "channel " << c << " frame " << position + n;
            }
        }
    }

    auto another = file->openAnotherReader(&error);
    ASSERT_TRUE(another) << error;
    EXPECT_EQ(another->channelSelection(), selection);
    EXPECT_EQ(another->processingFormat(), file->processingFormat());
}

TEST_P(ChannelSelection, APlayerPlaysTheSelection) {
    TemporaryFolder folder;
    const auto& selection = GetParam().selection;
    auto file = AudioFile::openForReading(writeSixChannels(folder), selection);
    ASSERT_TRUE(file);

    // The link carries the selection's channel count, so the node passes the channels as read.
    EngineRig rig(kRate, uint32_t(selection.size()));
    auto player = rig.makePlayer();
    ASSERT_FALSE(rig.engine.connect(player, rig.engine.mainMixerNode(), file->processingFormat()));
    ASSERT_FALSE(rig.engine.start());
    player->scheduleSegment(file, 1000, 4800);
    player->play();
    rig.pull(4800, 480);

    for (uint32_t c = 0; c < selection.size(); ++c) {
        const auto heard = rig.channel(c).subspan(100, 4000);
        EXPECT_NEAR(rms(heard), levelOf(selection[c]), 1e-6) << "channel " << c;
    }
}

INSTANTIATE_TEST_SUITE_P(Selections, ChannelSelection, ::testing::ValuesIn(kSelections),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(ChannelSelectionErrors, ASelectionOfChannelsTheFileLacksIsRefused) {
    TemporaryFolder folder;
    const auto path = writeSixChannels(folder);
    for (const ChannelMap& selection : {ChannelMap{0, 6}, ChannelMap{-2}, ChannelMap(65, 0)}) {
        std::string error;
        EXPECT_FALSE(AudioFile::openForReading(path, selection, &error));
        EXPECT_FALSE(error.empty());
    }
    auto whole = AudioFile::openForReading(path, ChannelMap{});
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->processingFormat().channelCount, 6u);
    EXPECT_TRUE(whole->channelSelection().empty());
}

}  // namespace
}  // namespace kestio::test
