// Files that are not what their names say: a playlist or a list of files under a clip's or a
// sound's name is refused on every path, never read as the file it names.

#include <gtest/gtest.h>

#include "platform/media/image_generator.h"
#include "platform/media/media_file.h"
#include "platform/media/media_info.h"
#include "platform/media/video_decoder.h"
#include "support/media_fixtures.h"
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

TEST(TrackOffsets, TheContainerStartsWithItsEarliestTrack) {
    // The transport stream's sound starts 1024 samples (the encoder's delay) before its first
    // picture.
    auto file =
        MediaFile::open(mediaFixtures().video("ts").path, std::make_shared<IoControl>(), true);
    ASSERT_TRUE(file) << file.error();
    const int video = file->videoStreamIndex();
    EXPECT_NEAR(file->streamOrigin(video) - file->containerOrigin(video),
                1024.0 / kestio::test::kToneSampleRate, 1e-4);
}

}  // namespace
}  // namespace kestio::platform::media
