// Files that are not what their names say: a playlist or a list of files under a clip's or a
// sound's name is refused on every path, never read as the file it names.

#include <gtest/gtest.h>

#include <limits>
#include <optional>

#include "platform/media/decoded_player_layer.h"
#include "platform/media/image_generator.h"
#include "platform/media/media_file.h"
#include "platform/media/media_info.h"
#include "platform/media/video_decoder.h"
#include "platform/runloop/manual_run_loop.h"
#include "support/frame_number_strip.h"
#include "support/media_fixtures.h"
#include "support/playback_test_support.h"
#include "support/temporary_folder.h"

namespace kestio::platform::media {
namespace {

using kestio::test::mediaFixtures;

TEST(HostileContainer, ListsThatNameAnotherFileAreRefusedOnEveryPath) {
    kestio::test::TemporaryFolder folder;
    const auto& clip = mediaFixtures().video("mp4").path;
    ASSERT_TRUE(probeMediaInfo(clip, std::make_shared<IoControl>())) << "the named clip plays";
    for (const auto& list : kestio::test::writeListsNaming(folder.path(), clip)) {
        SCOPED_TRACE(list.filename().string());
        // What an asset loads, what a player item decodes and what the generator reads.
        EXPECT_FALSE(probeMediaInfo(list, std::make_shared<IoControl>()));
        EXPECT_FALSE(VideoDecoder::open(list, std::make_shared<IoControl>(), {}));
        EXPECT_FALSE(ImageGenerator::copyImage(list, 0.0, {}));
    }
}

TEST(TrackOffsets, ThePicturesStartAsLongAfterTheContainerAsTheSoundStartsBefore) {
    // The transport stream's sound starts 1024 samples (the encoder's delay) before its first
    // picture: the container starts with the sound, and the first picture's item time in the
    // player is the offset the sound keeps at its start.
    const auto& clip = mediaFixtures().video("ts").path;
    const double offset = 1024.0 / kestio::test::kToneSampleRate;
    auto file = MediaFile::open(clip, std::make_shared<IoControl>(), true);
    ASSERT_TRUE(file) << file.error();
    const int video = file->videoStreamIndex();
    EXPECT_NEAR(file->streamOrigin(video) - file->containerOrigin(video), offset, 1e-4);
    // The pictures' end read from the packets is the container's duration, from its start.
    EXPECT_NEAR(file->scanDuration(), file->duration(), 1e-3);

    ManualRunLoop loop;
    auto [player, item] = testing::loadPlayer(loop, clip);
    ASSERT_EQ(item->statusValue(), ItemStatus::ReadyToPlay) << item->error();
    // From the container's start the first picture shows, until its own time.
    DecodedPlayerLayer layer(player);
    EXPECT_EQ(player->currentTime(), 0.0);
    EXPECT_EQ(kestio::test::readFrameNumber(layer.frameAt(loop.now())), 0);
    const double any = std::numeric_limits<double>::infinity();
    std::optional<bool> finished;
    player->seek(0.0, any, any, [&](bool f) { finished = f; });
    ASSERT_TRUE(testing::runUntil(loop, [&] { return finished.has_value(); }));
    EXPECT_NEAR(player->currentTime(), offset, 1e-4) << "a seek to the nearest picture";
}

}  // namespace
}  // namespace kestio::platform::media
