// Still cues: a still is decoded for the box the output draws it into and placed by its own
// size; on the controller's own decode threads, a cue fired while an earlier still is decoding
// never waits for that decode, whose picture never reaches the output.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>

#include "platform/graphics/layer.h"
#include "playback_rig.h"

namespace kestio {
namespace {

using namespace std::chrono_literals;

platform::DecodedStill picture(QSize size, QSize ownSize) {
    platform::DecodedStill still;
    still.image = QImage(size, QImage::Format_RGB32);
    still.image.fill(Qt::green);
    still.fullSize = ownSize;
    return still;
}

class StillPlacing : public ::testing::Test {
  protected:
    StillPlacing() {
        // A 3840x2160 picture handed back at a quarter of its pixels, as a reduced decode does.
        rig.decodeStill = [](const std::filesystem::path&, const std::function<bool()>&) {
            return picture({1920, 1080}, {3840, 2160});
        };
        rig.editSlot(0, 1).mediaType = MediaType::still;
        rig.surface().setViewSize({192.0, 108.0});
    }
    double drawnWidth() {
        return rig.surface().slotB().containerLayer()->frame().width /
               rig.surface().rootLayer()->bounds().width;
    }
    test::PlaybackRig rig;
};

TEST_F(StillPlacing, AStillIsDecodedForTheBoxTheOutputDrawsItInto) {
    auto& still = rig.editSlot(0, 1);
    still.geometry.mode = GeometryMode::custom;
    still.geometry.scaleX = still.geometry.scaleY = 50.0;
    rig.playSlot(0, 1);
    rig.pc().play(0, 1, *still.videoURL, still, {3840.0, 2160.0});
    still.geometry.mode = GeometryMode::originalSize;
    rig.playSlot(0, 1);
    rig.loop.runPending();
    EXPECT_EQ(rig.stillSizesAsked, (std::vector<QSize>{{960, 540}, {1920, 1080}, {}}));
}

TEST_F(StillPlacing, AStillDecodedReducedIsPlacedByItsOwnSizeAlsoWhenItsGeometryChanges) {
    auto& still = rig.editSlot(0, 1);
    still.geometry.mode = GeometryMode::originalSize;
    rig.playSlot(0, 1);
    rig.loop.runPending();
    ASSERT_TRUE(rig.surface().slotB().isStill());
    // Twice the 1080p canvas wide, as its own 3840 pixels are.
    EXPECT_DOUBLE_EQ(drawnWidth(), 2.0);
    EXPECT_EQ(rig.surface().slotB().stillSize(), QSize(3840, 2160));

    GeometrySettings fitted;
    rig.pc().updateGeometry(fitted);
    EXPECT_DOUBLE_EQ(drawnWidth(), 1.0);
    rig.pc().updateGeometry(still.geometry);
    EXPECT_DOUBLE_EQ(drawnWidth(), 2.0);
    // A colour change keeps the picture's own size; it only sets the slot's values, which the
    // still's filter follows where it is composed: the still itself is left as decoded.
    const auto& container = *rig.surface().slotB().containerLayer();
    const qint64 decoded = container.contents().cacheKey();
    ColorSettings warmer;
    warmer.redGain = 1.2f;
    rig.pc().applyColorSettings(warmer);
    EXPECT_EQ(rig.surface().slotB().colorSettingsBox().value(), warmer);
    EXPECT_EQ(container.contents().cacheKey(), decoded);
    EXPECT_NE(container.contentsFilter(), nullptr);
    rig.pc().updateGeometry(still.geometry);
    EXPECT_DOUBLE_EQ(drawnWidth(), 2.0);
}

// Three stills whose decodes the test holds: "stoppable" decodes until its stop says so (as the
// readers of most formats do), "unstoppable" until the test releases it (as libheif does);
// "quick" decodes at once.
class StillCues : public ::testing::Test {
  protected:
    StillCues() {
        for (const auto& [slot, name] :
             {std::pair{1, "stoppable"}, std::pair{2, "unstoppable"}, std::pair{3, "quick"}}) {
            SlotData& data = rig.editSlot(0, slot);
            data.mediaType = MediaType::still;
            data.videoURL = std::string("/media/") + name + ".png";
            data.name = name;
        }
        rig.decodeStill = [this](const std::filesystem::path& file,
                                 const std::function<bool()>& stop) {
            return decode(file.stem().string(), stop);
        };
    }
    ~StillCues() override { release(); }

    platform::DecodedStill decode(const std::string& name, const std::function<bool()>& stop) {
        if (name == "quick") {
            return picture({64, 36}, {64, 36});
        }
        ++started;
        std::unique_lock lock(mutex);
        // Looks at its stop now and then, as a decode does between its reads.
        while (!released && !(name == "stoppable" && stop())) {
            wake.wait_for(lock, 1ms);
        }
        stopHeard = stop();
        ++ended;
        return picture({64, 36}, {64, 36});
    }
    void release() {
        {
            std::lock_guard lock(mutex);
            released = true;
        }
        wake.notify_all();
    }
    // Runs the loop's posted work until `done` holds; false after ten seconds of wall time.
    template <typename Condition>
    bool runUntil(Condition done) {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (!done() && std::chrono::steady_clock::now() < deadline) {
            rig.loop.waitForPosted(0.01);
            rig.loop.runPending();
        }
        return done();
    }
    bool onAir(int slot) {
        return rig.pc().currentSlotIndex.get() == slot && rig.surface().showingSlot().isStill();
    }

    // Declared before the rig, so that the decodes it holds outlive nothing they use.
    std::mutex mutex;
    std::condition_variable wake;
    bool released = false;
    std::atomic<int> started{0};
    std::atomic<int> ended{0};
    std::atomic<bool> stopHeard{false};
    test::PlaybackRig rig{AppLanguage::en, true};
};

TEST_F(StillCues, ALaterCueStopsTheDecodeUnderWayAndShowsWithoutWaitingForIt) {
    rig.playSlot(0, 1);
    ASSERT_TRUE(runUntil([&] { return started == 1; }));
    rig.playSlot(0, 3);
    EXPECT_TRUE(runUntil([&] { return onAir(3); })) << "the later cue waited for the decode";
    ASSERT_TRUE(runUntil([&] { return ended == 1; }));
    EXPECT_TRUE(stopHeard);
    rig.loop.runPending();
    EXPECT_TRUE(onAir(3));
}

TEST_F(StillCues, ADecodeThatCannotStopHoldsNoLaterCueAndItsPictureIsDropped) {
    rig.playSlot(0, 2);
    ASSERT_TRUE(runUntil([&] { return started == 1; }));
    rig.playSlot(0, 3);
    EXPECT_TRUE(runUntil([&] { return onAir(3); })) << "the later cue waited for the decode";
    release();
    ASSERT_TRUE(runUntil([&] { return ended == 1; }));
    EXPECT_TRUE(stopHeard);
    rig.loop.runPending();
    EXPECT_TRUE(onAir(3));
    EXPECT_EQ(rig.surface().showingSlot().stillSize(), QSize(64, 36));
}

TEST_F(StillCues, AVideoCueThenGoingToBlackLetStillDecodesGo) {
    // The video cue lets the first decode go; black, with the video on air, the second.
    for (const auto& [attempt, next] :
         {std::pair<int, std::function<void()>>{1, [&] { rig.playSlot(0, 0); }},
          {2, [&] { rig.pc().handlePostRoll(PostRollMode::black); }}}) {
        SCOPED_TRACE(attempt);
        stopHeard = false;
        rig.playSlot(0, 1);
        ASSERT_TRUE(runUntil([&] { return started == attempt; }));
        next();
        ASSERT_TRUE(runUntil([&] { return ended == attempt; }));
        EXPECT_TRUE(stopHeard);
        rig.advance(0.5);
        EXPECT_FALSE(rig.surface().showingSlot().isStill());
    }
    EXPECT_FALSE(rig.pc().currentSlotIndex.get());
}

// The stop key while a still is still being decoded and nothing else is on air: the cue on its
// way is what it stops. The decode is told to stop, and its picture never reaches the output,
// whether the decode stops at once or runs to its end.
TEST_F(StillCues, TheStopKeyEndsAStillBeingDecoded) {
    for (const int slot : {1, 2}) {
        SCOPED_TRACE(slot == 1 ? "a decode that stops" : "a decode that cannot stop");
        stopHeard = false;
        const int before = started;
        rig.playSlot(0, slot);
        ASSERT_TRUE(runUntil([&] { return started == before + 1; }));
        // The stop key: the slot on air or on its way there goes to black.
        ASSERT_EQ(rig.surface().onAirOrOnItsWay(), (SlotRef{0, slot}));
        rig.pc().handlePostRoll(PostRollMode::black);
        EXPECT_FALSE(rig.pc().currentSlotIndex.get());
        if (slot == 2) {
            release();
        }
        ASSERT_TRUE(runUntil([&] { return ended == before + 1; }));
        EXPECT_TRUE(stopHeard);
        rig.advance(0.5);
        EXPECT_FALSE(rig.pc().currentSlotIndex.get());
        for (auto* s : {&rig.surface().slotA(), &rig.surface().slotB()}) {
            EXPECT_FALSE(s->isStill());
        }
    }
}

}  // namespace
}  // namespace kestio
