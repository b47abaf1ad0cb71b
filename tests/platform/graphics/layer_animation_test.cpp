#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "platform/graphics/layer.h"
#include "platform/graphics/layer_snapshot.h"
#include "platform/graphics/timing_function.h"
#include "platform/graphics/transaction.h"
#include "platform/runloop/manual_run_loop.h"

namespace kestio::platform {
namespace {

TEST(TimingFunction, EaseInEaseOutIsSymmetricAndSlowAtBothEnds) {
    const auto ease = TimingFunction::easeInEaseOut();
    EXPECT_DOUBLE_EQ(ease.valueAt(0.5), 0.5);
    // The cubic Bezier (0.42, 0), (0.58, 1) solved independently to 1e-12.
    EXPECT_NEAR(ease.valueAt(0.25), 0.1291619310, 1e-9);
    EXPECT_NEAR(ease.valueAt(0.75), 1.0 - 0.1291619310, 1e-9);
    EXPECT_LT(ease.valueAt(0.05), 0.05);
    EXPECT_GT(ease.valueAt(0.95), 0.95);
    EXPECT_EQ(ease.valueAt(-1.0), 0.0);
    EXPECT_EQ(ease.valueAt(2.0), 1.0);
    double previous = 0.0;
    for (int i = 1; i <= 100; ++i) {
        const double v = ease.valueAt(i / 100.0);
        EXPECT_GE(v, previous);
        previous = v;
    }
    EXPECT_NEAR(TimingFunction::linear().valueAt(0.3), 0.3, 1e-12);
}

TEST(OpacityAnimation, HoldsItsFinalValueAndTreatsNonPositiveDurationsAsDone) {
    const OpacityAnimation fade{0.2f, 1.0f, 2.0};
    EXPECT_FLOAT_EQ(fade.valueAt(0.0), 0.2f);
    EXPECT_FLOAT_EQ(fade.valueAt(1.0), 0.6f);
    EXPECT_FLOAT_EQ(fade.valueAt(2.0), 1.0f);
    EXPECT_FLOAT_EQ(fade.valueAt(50.0), 1.0f);
    EXPECT_FALSE(fade.hasEnded(1.99));
    EXPECT_TRUE(fade.hasEnded(2.0));
    for (double d : {0.0, -1.0, std::nan(""), double(INFINITY)}) {
        const OpacityAnimation instant{0.0f, 0.7f, d};
        EXPECT_TRUE(instant.runsInstantly()) << d;
        EXPECT_FLOAT_EQ(instant.valueAt(0.0), 0.7f) << d;
    }
}

class LayerTest : public ::testing::Test {
  protected:
    ManualRunLoop loop{HostTime(100.0)};
    std::shared_ptr<Layer> layer = Layer::create(loop);
};

TEST_F(LayerTest, ModelOpacityChangesAtOnceWithoutAnimations) {
    layer->setOpacity(0.0f);
    EXPECT_EQ(layer->opacity(), 0.0f);
    EXPECT_EQ(layer->presentationOpacity(), 0.0f);
    layer->setOpacity(1.0f);
    EXPECT_EQ(layer->presentationOpacity(), 1.0f);
    EXPECT_EQ(loop.pendingCount(), 0u);  // no implicit animation was started
}

TEST_F(LayerTest, PresentationFollowsTheAnimationOnTheRunLoopClockAndHoldsItsEnd) {
    layer->setOpacity(0.0f);
    layer->addAnimation("fadeIn", {0.0f, 1.0f, 1.0});
    EXPECT_EQ(layer->opacity(), 0.0f);
    EXPECT_EQ(layer->presentationOpacity(), 0.0f);
    loop.advance(0.25);
    EXPECT_NEAR(layer->presentationOpacity(), 0.1291619, 1e-6);
    loop.advance(0.25);
    EXPECT_FLOAT_EQ(layer->presentationOpacity(), 0.5f);
    loop.advance(0.5);
    EXPECT_EQ(layer->presentationOpacity(), 1.0f);
    loop.advance(10.0);
    EXPECT_EQ(layer->presentationOpacity(), 1.0f);  // held, model still 0
    EXPECT_EQ(layer->opacity(), 0.0f);
    EXPECT_TRUE(layer->hasAnimation("fadeIn"));
    layer->removeAnimation("fadeIn");
    EXPECT_EQ(layer->presentationOpacity(), 0.0f);
    // Rendering can ask for any time.
    layer->addAnimation("fadeOut", {1.0f, 0.0f, 2.0});
    EXPECT_FLOAT_EQ(layer->presentationOpacity(loop.now() + 1.0), 0.5f);
}

TEST_F(LayerTest, TheLatestAnimationDecidesThePresentationValue) {
    layer->addAnimation("a", {0.0f, 1.0f, 1.0});
    layer->addAnimation("b", {0.4f, 0.4f, 1.0});
    loop.advance(0.5);
    EXPECT_FLOAT_EQ(layer->presentationOpacity(), 0.4f);
    layer->removeAnimation("b");
    EXPECT_FLOAT_EQ(layer->presentationOpacity(), 0.5f);
    EXPECT_EQ(layer->animationKeys(), std::vector<std::string>{"a"});
}

TEST_F(LayerTest, CompletionRunsOnceAtTheEnd) {
    int calls = 0;
    std::vector<double> times;
    layer->addAnimation("fadeIn", {0.0f, 1.0f, 1.0}, [&] {
        ++calls;
        times.push_back(loop.now().seconds());
    });
    loop.advance(0.999);
    EXPECT_EQ(calls, 0);
    loop.advance(0.001);
    EXPECT_EQ(calls, 1);
    EXPECT_DOUBLE_EQ(times.at(0), 101.0);
    layer->removeAnimation("fadeIn");  // after the end: no second call
    loop.advance(5.0);
    EXPECT_EQ(calls, 1);
}

TEST_F(LayerTest, RemovingEarlyRunsTheCompletionOnTheNextTurnAndNotAgainAtTheEnd) {
    int calls = 0;
    layer->addAnimation("fadeOut", {1.0f, 0.0f, 1.0}, [&] { ++calls; });
    loop.advance(0.3);
    layer->removeAnimation("fadeOut");
    EXPECT_EQ(calls, 0) << "the completion is delivered on the loop, not inside the removal";
    loop.runPending();
    EXPECT_EQ(calls, 1);
    loop.advance(2.0);
    EXPECT_EQ(calls, 1);
}

TEST_F(LayerTest, ReplacingRemovingAllAndDestroyingCountAsRemoval) {
    std::string order;
    layer->addAnimation("k", {0.0f, 1.0f, 1.0}, [&] { order += '1'; });
    layer->addAnimation("k", {0.0f, 1.0f, 1.0}, [&] { order += '2'; });
    EXPECT_EQ(layer->animationKeys().size(), 1u);
    loop.runPending();
    EXPECT_EQ(order, "1");
    layer->addAnimation("other", {0.0f, 1.0f, 1.0}, [&] { order += '3'; });
    layer->removeAllAnimations();
    loop.runPending();
    EXPECT_EQ(order, "123");
    layer->addAnimation("last", {0.0f, 1.0f, 1.0}, [&] { order += '4'; });
    layer.reset();
    loop.advance(3.0);
    EXPECT_EQ(order, "1234");
}

TEST_F(LayerTest, AZeroDurationAnimationIsAtItsEndAtOnceAndCompletesOnTheNextTurn) {
    int calls = 0;
    layer->setOpacity(0.0f);
    layer->addAnimation("fadeIn", {0.0f, 1.0f, 0.0}, [&] { ++calls; });
    EXPECT_EQ(layer->presentationOpacity(), 1.0f);
    EXPECT_EQ(calls, 0);
    loop.runPending();
    EXPECT_EQ(calls, 1);
}

TEST_F(LayerTest, ObserversSeeEverySetEvenWithTheSameValue) {
    int opacitySets = 0;
    int hiddenSets = 0;
    int frameSets = 0;
    int contentsSets = 0;
    int gravitySets = 0;
    auto a = layer->observe(LayerProperty::Opacity, [&] { ++opacitySets; });
    auto b = layer->observe(LayerProperty::Hidden, [&] { ++hiddenSets; });
    auto c = layer->observe(LayerProperty::Frame, [&] { ++frameSets; });
    auto d = layer->observe(LayerProperty::Contents, [&] { ++contentsSets; });
    auto e = layer->observe(LayerProperty::VideoGravity, [&] { ++gravitySets; });
    layer->setOpacity(1.0f);
    layer->setOpacity(1.0f);
    layer->setHidden(false);
    layer->setFrame({0, 0, 10, 10});
    layer->setContents(QImage());
    layer->setVideoGravity(Gravity::Resize);
    layer->addAnimation("fade", {0.0f, 1.0f, 1.0});  // not a set of the model value
    EXPECT_EQ(opacitySets, 2);
    EXPECT_EQ(hiddenSets, 1);
    EXPECT_EQ(frameSets, 1);
    EXPECT_EQ(contentsSets, 1);
    EXPECT_EQ(gravitySets, 1);
    a.reset();
    layer->setOpacity(0.5f);
    EXPECT_EQ(opacitySets, 2);
}

TEST_F(LayerTest, TheTreeMovesLayersAndRefusesCycles) {
    auto parent = Layer::create(loop);
    auto child = Layer::create(loop);
    EXPECT_TRUE(parent->addSublayer(child));
    EXPECT_TRUE(layer->addSublayer(parent));
    EXPECT_FALSE(child->addSublayer(layer));  // an ancestor
    EXPECT_FALSE(child->addSublayer(child));  // itself
    EXPECT_FALSE(child->addSublayer(nullptr));
    EXPECT_TRUE(layer->addSublayer(child));  // moves it
    EXPECT_TRUE(parent->sublayers().empty());
    EXPECT_EQ(child->superlayer(), layer);
    ASSERT_EQ(layer->sublayers().size(), 2u);
    child->removeFromSuperlayer();
    EXPECT_EQ(child->superlayer(), nullptr);
    EXPECT_EQ(layer->sublayers().size(), 1u);
    layer.reset();  // a destroyed superlayer leaves its sublayers without one
    EXPECT_EQ(parent->superlayer(), nullptr);
}

TEST_F(LayerTest, BoundsAreTheFrameSizeAtTheOrigin) {
    layer->setFrame({30, 40, -200, 100});
    EXPECT_EQ(layer->bounds(), (RectF{0, 0, 200, 100}));
    EXPECT_EQ(layer->frame().standardized(), (RectF{-170, 40, 200, 100}));
}

TEST(Transaction, CompletesAfterAllItsAnimationsHaveEndedOrBeenRemoved) {
    ManualRunLoop loop;
    auto a = Layer::create(loop);
    auto b = Layer::create(loop);
    std::vector<double> fired;
    {
        Transaction t(loop);
        t.setCompletion([&] { fired.push_back(loop.now().seconds()); });
        t.addAnimation(*a, "fadeIn", {0.0f, 1.0f, 1.0});
        t.addAnimation(*b, "fadeOut", {1.0f, 0.0f, 2.0});
        t.commit();
    }
    loop.advance(1.5);
    EXPECT_TRUE(fired.empty());
    b->removeAnimation("fadeOut");
    loop.runPending();
    ASSERT_EQ(fired.size(), 1u);
    EXPECT_DOUBLE_EQ(fired[0], 1.5);
    loop.advance(5.0);
    EXPECT_EQ(fired.size(), 1u);
}

TEST(Transaction, WithoutAnimationsCompletesOnTheNextTurnAfterCommit) {
    ManualRunLoop loop;
    int calls = 0;
    {
        Transaction t(loop);
        t.setCompletion([&] { ++calls; });
    }  // committed by its destructor
    EXPECT_EQ(calls, 0);
    loop.runPending();
    EXPECT_EQ(calls, 1);
}

TEST(Transaction, ACutShowsNoIntermediateOpacity) {
    ManualRunLoop loop;
    auto incoming = Layer::create(loop);
    auto outgoing = Layer::create(loop);
    incoming->setOpacity(0.0f);
    outgoing->setOpacity(1.0f);
    {
        Transaction t(loop);
        incoming->setOpacity(1.0f);
        outgoing->setOpacity(0.0f);
        t.commit();
    }
    for (double step : {0.0, 0.001, 0.1, 1.0}) {
        loop.advance(step);
        EXPECT_EQ(incoming->presentationOpacity(), 1.0f);
        EXPECT_EQ(outgoing->presentationOpacity(), 0.0f);
    }
}

// Animations given a begin time, added at host time 100: what the layer and a snapshot of it show
// at probe times, and when the completion runs.
TEST(AnimationBeginTime, HoldsFromBeforeItsBeginRunsFromThereAndCompletesAtItsEnd) {
    struct Probe {
        double at;
        float opacity;
    };
    struct Case {
        const char* name;
        double begin;
        double duration;
        std::vector<Probe> probes;
        double completesAt;
    };
    const Case cases[] = {
        {"ahead",
         100.5,
         1.0,
         {{100.0, 0.2f}, {100.5, 0.2f}, {101.0, 0.6f}, {101.5, 1.0f}, {103, 1.0f}},
         101.5},
        {"already running", 99.5, 1.0, {{100.0, 0.6f}, {100.25, 0.8f}, {100.5, 1.0f}}, 100.5},
        {"already over", 98.0, 1.0, {{100.0, 1.0f}, {100.5, 1.0f}}, 100.0},
        {"instant, ahead", 100.25, 0.0, {{100.0, 0.2f}, {100.2, 0.2f}, {100.25, 1.0f}}, 100.25},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ManualRunLoop loop(HostTime(100.0));
        auto layer = Layer::create(loop);
        layer->setOpacity(0.0f);
        std::vector<double> completions;
        OpacityAnimation fade{0.2f, 1.0f, c.duration, TimingFunction::linear()};
        fade.beginTime = HostTime(c.begin);
        layer->addAnimation("fade", fade, [&] { completions.push_back(loop.now().seconds()); });
        const auto snapshot = layer->snapshot();
        for (const Probe& p : c.probes) {
            EXPECT_NEAR(layer->presentationOpacity(HostTime(p.at)), p.opacity, 1e-6)
                << "at " << p.at;
            EXPECT_NEAR(snapshot->presentationOpacity(HostTime(p.at)), p.opacity, 1e-6)
                << "at " << p.at;
        }
        loop.advance(5.0);
        ASSERT_EQ(completions.size(), 1u);
        EXPECT_NEAR(completions[0], c.completesAt, 1e-9);
    }
}

// A media clock (an audio engine's) that reads 7 s at host time 100 and runs 0.1 % fast.
class OffsetClock final : public MediaClock {
  public:
    ClockTime timeAt(HostTime hostTime) const override {
        return ClockTime(7.0 + 1.001 * (hostTime.seconds() - 100.0));
    }
    HostTime hostTimeAt(ClockTime clockTime) const override {
        return HostTime(100.0 + (clockTime.seconds() - 7.0) / 1.001);
    }
};

TEST(AnimationBeginTime, ADissolveBeginsAtAMediaClockTimeAndItsTransactionCompletesAtItsEnd) {
    ManualRunLoop loop(HostTime(100.0));
    const OffsetClock clock;
    auto incoming = Layer::create(loop);
    auto outgoing = Layer::create(loop);
    std::vector<double> completed;
    {
        Transaction t(loop);
        t.setCompletion([&] { completed.push_back(loop.now().seconds()); });
        OpacityAnimation in{0.0f, 1.0f, 0.5};
        in.beginAtClockTime(clock, ClockTime(7.3));  // the clip starts at clock time 7.3
        OpacityAnimation out{1.0f, 0.0f, 0.5};
        out.beginAtClockTime(clock, ClockTime(7.3));
        t.addAnimation(*incoming, "dissolve", in);
        t.addAnimation(*outgoing, "dissolve", out);
        t.commit();
    }
    const HostTime start(100.0 + 0.3 / 1.001);  // host time of clock time 7.3
    loop.advance(0.2);                          // the main thread gets on with other work
    for (const HostTime at : {HostTime(100.0), start - 1e-6, start}) {
        EXPECT_EQ(incoming->presentationOpacity(at), 0.0f) << at;
        EXPECT_EQ(outgoing->presentationOpacity(at), 1.0f) << at;
    }
    EXPECT_FLOAT_EQ(incoming->presentationOpacity(start + 0.25), 0.5f);
    EXPECT_FLOAT_EQ(outgoing->snapshot()->presentationOpacity(start + 0.25), 0.5f);
    EXPECT_EQ(incoming->presentationOpacity(start + 0.5), 1.0f);
    loop.advance(1.0);
    ASSERT_EQ(completed.size(), 1u);
    EXPECT_NEAR(completed[0], (start + 0.5).seconds(), 1e-9);
}

}  // namespace
}  // namespace kestio::platform
