// The scripted clip player: both sides start together at the clock time asked, or when the
// later one is ready, to the tick; a rate change asked ahead holds until its clock time.

#include <gtest/gtest.h>

#include "platform/runloop/manual_run_loop.h"
#include "support/fake_clip_player.h"
#include "support/fake_media.h"

namespace kestio::test {
namespace {

using platform::ManualRunLoop;

class FakeClipPlayerTest : public ::testing::Test {
  protected:
    FakeClipPlayerTest() {
        FakeMediaScript script;
        script.readyDelay = 0.1;
        script.seekDuration = 0.05;
        script.video->frameRate = 100.0;
        factory_.setDefaultScript(script);
    }
    ManualRunLoop loop_;
    FakeMediaFactory factory_{loop_};
    std::shared_ptr<platform::media::QueuePlayer> queue_ = factory_.makeQueuePlayer();
    FakeClipPlayer clips_{loop_, queue_};
};

// A rate change asked ahead: the old rate holds until its clock time, the new one after.
TEST_F(FakeClipPlayerTest, ARateChangeAskedAheadHoldsUntilItsClockTime) {
    clips_.play({factory_.makeItem(factory_.makeAsset("/clip.mov")), nullptr, std::nullopt},
                platform::ItemTime(0.0), platform::ClockTime(0.5));
    loop_.advance(1.0);  // item time 0.5
    clips_.setRate(2.0f, platform::ClockTime(1.25));
    loop_.advance(0.25);
    EXPECT_NEAR(queue_->currentTime(), 0.75, 1e-9) << "the old rate until the clock time asked";
    loop_.advance(0.25);
    EXPECT_NEAR(queue_->currentTime(), 1.25, 1e-9) << "the new rate from it";
}

TEST_F(FakeClipPlayerTest, BothSidesStartAtTheTimeAskedOrWhenTheLaterIsReady) {
    struct Case {
        double soundDelay;
        double asked;
        double started;
    };
    // The picture is ready 0.1 s after it is put in the player (the seek to the start lands
    // with it).
    for (const Case c : {Case{0.0, 1.0, 1.0}, Case{0.5, 0.2, 0.5}, Case{0.0, 0.05, 0.1}}) {
        SCOPED_TRACE(c.soundDelay);
        clips_.soundReadyDelay = c.soundDelay;
        const platform::ClockTime base = queue_->clock()->timeAt(loop_.now());
        std::optional<bool> ready;
        auto item = factory_.makeItem(factory_.makeAsset("/clip.mov"));
        clips_.play({item, nullptr, std::nullopt}, platform::ItemTime(0.0), base + c.asked,
                    [&](bool r) { ready = r; });
        loop_.advance(1.5);
        ASSERT_TRUE(ready && *ready);
        ASSERT_TRUE(clips_.startTime().get());
        EXPECT_NEAR(*clips_.startTime().get() - base, c.started, 1e-9);
        EXPECT_NEAR(queue_->currentTime(), 1.5 - c.started, 1e-9);
    }
}

}  // namespace
}  // namespace kestio::test
