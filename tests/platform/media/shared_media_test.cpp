// Every public sample file either plays or fails cleanly, through every media facility:
// nothing crashes, hangs or grows without bound.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/media/asset_reader.h"
#include "platform/media/decoded_asset.h"
#include "platform/media/decoded_player_layer.h"
#include "platform/media/image_generator.h"
#include "platform/runloop/manual_run_loop.h"
#include "support/playback_test_support.h"

namespace kestio::platform::media {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> sharedMediaFiles() {
    std::vector<fs::path> files;
    const fs::path folder = KESTIO_SHARED_MEDIA_DIR;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        if (entry.is_regular_file()) {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

struct Outcome {
    ItemStatus status = ItemStatus::Unknown;
    QSize size;
    int endings = 0;
};

// Plays the file's item to its end (video stepped a display tick at a time while decoding
// keeps up, at most a few seconds of it; a sound-only item in one step).
Outcome playThrough(ManualRunLoop& loop, const fs::path& path) {
    Outcome outcome;
    auto [player, item] = testing::loadPlayer(loop, path);
    DecodedPlayerLayer layer(player);
    outcome.status = item->statusValue();
    if (outcome.status != ItemStatus::ReadyToPlay) {
        EXPECT_FALSE(item->error().empty());
        EXPECT_FALSE(layer.readyForDisplay());
        return outcome;
    }
    outcome.size = item->presentationSize();
    auto onEnd = item->onDidPlayToEnd([&] { ++outcome.endings; });
    player->setActionAtItemEnd(ActionAtItemEnd::Pause);
    EXPECT_TRUE(testing::runUntil(loop, [&] { return layer.readyForDisplay(); }));
    const double duration = item->duration();
    if (std::isfinite(duration) && duration > 3.0) {
        std::optional<bool> sought;
        player->seek(duration - 2.0, 0.0, 0.0, [&](bool f) { sought = f; });
        EXPECT_TRUE(testing::runUntil(loop, [&] { return sought.has_value(); }));
    }
    player->play();
    if (!item->hasVideo()) {
        loop.advance(std::isfinite(duration) ? duration + 1.0 : 1.0);
        return outcome;
    }
    for (int tick = 0; tick < 60 * 5 && player->rateValue() > 0.0f; ++tick) {
        testing::advanceDecoded(loop, *player, 1.0 / 60.0);
        if (::testing::Test::HasFatalFailure()) {
            break;
        }
    }
    return outcome;
}

TEST(SharedMedia, EveryPublicFilePlaysOrFailsCleanly) {
    const auto files = sharedMediaFiles();
    if (files.empty()) {
        GTEST_SKIP() << "no public sample media in " << KESTIO_SHARED_MEDIA_DIR;
    }
    ManualRunLoop loop;
    std::map<std::string, Outcome> outcomes;
    for (const auto& path : files) {
        SCOPED_TRACE(path.filename().string());
        // The probe answers, one way or the other.
        auto asset = DecodedAsset::make(loop, path);
        std::optional<bool> probed;
        asset->loadInfo([&](const Loaded<MediaInfo>& info) {
            probed = info.ok();
            if (!info.ok()) {
                EXPECT_FALSE(info.error().empty());
            }
        });
        ASSERT_TRUE(testing::runUntil(loop, [&] { return probed.has_value(); }));

        outcomes[path.filename().string()] = playThrough(loop, path);
        const Outcome& outcome = outcomes[path.filename().string()];
        if (outcome.status == ItemStatus::ReadyToPlay) {
            EXPECT_EQ(outcome.endings, 1) << "played to its end once";
        }

        // A picture, or a reason there is none.
        const auto picture = ImageGenerator::copyImage(path, 0.0, {});
        if (picture.ok()) {
            EXPECT_FALSE(picture->image.isNull());
        }

        // The sound, or a reason there is none; bounded by the file's own length.
        if (auto reader = AssetReader::open(path)) {
            std::int64_t frames = 0;
            while (auto buffer = (*reader)->copyNextSampleBuffer()) {
                frames += buffer->frameCount;
                ASSERT_LT(frames, std::int64_t{48000} * 60 * 20);
            }
            EXPECT_NE((*reader)->status(), AssetReader::Status::Reading);
        }
    }
    // What the files are known to be.
    auto status = [&](const std::string& name) { return outcomes.at(name).status; };
    EXPECT_EQ(status("small-webp.webp"), ItemStatus::Failed) << "a 1x1 picture read as 11330x446";
    EXPECT_EQ(status("tinytag-empty_file.mp3"), ItemStatus::Failed);
    EXPECT_EQ(status("README.md"), ItemStatus::Failed);
    EXPECT_EQ(status("pymediainfo-sample-1080p23976.mp4"), ItemStatus::ReadyToPlay);
    EXPECT_EQ(outcomes.at("pymediainfo-sample-1080p23976.mp4").size, QSize(1920, 1080));
    EXPECT_EQ(outcomes.at("mp4rust-bbb-metadata.m4v").size, QSize(320, 180))
        << "the cover picture is not the video";
    EXPECT_EQ(status("tinytag-test.wav"), ItemStatus::ReadyToPlay);
}

}  // namespace
}  // namespace kestio::platform::media
