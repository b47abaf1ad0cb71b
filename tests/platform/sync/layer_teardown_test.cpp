// Layers and the players they show are taken down by the main thread while presenter threads
// are composing them. Whichever thread lets a picture source go last, the player layer and the
// player (main-thread objects: the player's destructor cancels its run-loop timers) must be
// destroyed on the main thread. Run under ThreadSanitizer (ctest -L tsan) as well.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/graphics/layer.h"
#include "platform/graphics/presenter.h"
#include "platform/media/player_layer.h"
#include "platform/runloop/manual_run_loop.h"
#include "support/fake_media.h"

namespace kestio::platform {
namespace {

constexpr double kWait = 10.0;  // seconds of real time, generous
constexpr double kPeriod = 1.0 / 64.0;

// Counts the objects the test hands out and where each was destroyed. `alive` is a plain
// integer of the main thread: a destruction elsewhere is also a data race the sanitizer sees.
struct Teardowns {
    std::thread::id mainThread = std::this_thread::get_id();
    int alive = 0;
    std::atomic<int> offMainThread{0};

    // `object`, shared through a pointer whose last release is counted.
    template <class T>
    std::shared_ptr<T> tracked(std::shared_ptr<T> object) {
        ++alive;
        T* const pointer = object.get();
        return std::shared_ptr<T>(pointer, [this, kept = std::move(object)](T*) mutable {
            if (std::this_thread::get_id() != mainThread) {
                ++offMainThread;
            }
            --alive;
            kept.reset();
        });
    }
};

// A picture source standing for a player drawn above it, which holds its first presenter inside
// frameAt() once armed until the test opens it: the main thread then takes everything down
// while that presenter still holds the snapshot that shows it.
class Gate final : public FrameSource {
  public:
    explicit Gate(RunLoop& loop) : ticking_(loop.every(1.0, [] {})) {}
    QImage frameAt(HostTime) const override {
        std::unique_lock lock(mutex_);
        if (armed_) {
            armed_ = false;
            inside_ = true;
            changed_.notify_all();
            changed_.wait_for(lock, std::chrono::duration<double>(kWait), [&] { return open_; });
        }
        return picture_;
    }
    bool waitUntilInside() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::duration<double>(kWait),
                                 [&] { return inside_; });
    }
    void open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }

  private:
    TimerHandle ticking_;  // like a player's timers: cancelled on the loop's thread only
    QImage picture_ = QImage(8, 8, QImage::Format_RGB32);
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    mutable bool armed_ = true;
    mutable bool inside_ = false;
    bool open_ = false;
};

TEST(LayerTeardown, PlayersRemovedWhilePresentersComposeAreDestroyedOnTheMainThread) {
    constexpr int kRounds = 1000;
    Teardowns teardowns;  // outlives the loop, which may still hold a release
    ManualRunLoop loop;
    test::FakeMediaFactory factory(loop);
    test::FakeMediaScript quick;
    quick.assetLoadDelay = 0.0;
    quick.readyDelay = 0.0;
    factory.setDefaultScript(quick);
    auto root = Layer::create(loop);
    root->setFrame({0, 0, 32, 18});
    SnapshotPublisher publisher(loop);
    publisher.setRoot(root);
    auto clock = std::make_shared<ManualHostClock>();
    std::vector<std::unique_ptr<Presenter>> presenters;
    for (int i = 0; i < 2; ++i) {
        presenters.push_back(std::make_unique<Presenter>(clock));
        presenters.back()->setSource(publisher.slot());
        presenters.back()->setSize({32, 18});
        presenters.back()->setRefreshRate(1.0 / kPeriod);
        presenters.back()->start();
        ASSERT_TRUE(presenters.back()->waitForRefresh(1, kWait));
    }

    int playersShown = 0;
    for (int round = 0; round < kRounds; ++round) {
        auto player = factory.makeQueuePlayer();
        player->insert(factory.makeItem(factory.makeAsset("clip.mov")));
        player->play();
        auto playerLayer = teardowns.tracked(std::shared_ptr<media::PlayerLayer>(
            factory.makePlayerLayer(teardowns.tracked(std::move(player)))));
        auto gate = std::make_shared<Gate>(loop);
        Gate* const gateInUse = gate.get();  // alive until its release reaches the main thread

        auto picture = Layer::create(loop);
        picture->setFrame({0, 0, 32, 18});
        picture->setFrameSource(std::move(playerLayer));
        auto gated = Layer::create(loop);
        gated->setFrame({0, 0, 8, 8});
        gated->setFrameSource(teardowns.tracked(std::shared_ptr<FrameSource>(std::move(gate))));
        root->addSublayer(picture);
        root->addSublayer(gated);
        loop.advance(kPeriod);  // the item becomes ready; the tree is published
        clock->advance(kPeriod);
        // A presenter is composing the tree with both layers, held inside the gate.
        ASSERT_TRUE(gateInUse->waitUntilInside()) << "round " << round;

        picture->removeFromSuperlayer();
        gated->removeFromSuperlayer();
        picture.reset();
        gated.reset();
        publisher.publish();  // the slot lets go of them too: only that presenter holds them
        gateInUse->open();
        const auto refresh = static_cast<std::uint64_t>(round) + 2;
        for (const auto& presenter : presenters) {
            ASSERT_TRUE(presenter->waitForRefresh(refresh, kWait)) << "round " << round;
            for (const RefreshRecord& record : presenter->takeRecords()) {
                playersShown += record.pictures.size() == 2 ? 1 : 0;
            }
        }
        loop.runPending();
    }
    for (const auto& presenter : presenters) {
        presenter->stop();
    }
    loop.runPending();

    EXPECT_EQ(teardowns.offMainThread.load(), 0);
    EXPECT_EQ(teardowns.alive, 0);
    EXPECT_TRUE(factory.players().empty());
    EXPECT_GT(playersShown, kRounds) << "the players' pictures were composed";
}

}  // namespace
}  // namespace kestio::platform
