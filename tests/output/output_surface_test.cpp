// The output surface on scripted media in virtual time: cuts, dissolves and their overlaps,
// preparing for a play, stopping all, geometry and layout, the engine's format and the layer log.

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "output/audio_engine_controller.h"
#include "platform/audio/audio_player_node.h"
#include "support/media_fixtures.h"
#include "surface_rig.h"

namespace kestio::output {
namespace {

using test::SurfaceRig;

class OutputSurfaceTest : public ::testing::Test {
  protected:
    OutputSurface& surface() { return rig.surface; }
    PlaybackSlot& a() { return rig.surface.slotA(); }
    PlaybackSlot& b() { return rig.surface.slotB(); }

    // Slot A on air with a clip, slot B loaded with the next one.
    void onAirAndNext() {
        a().load("/clips/onair.mov", 0.0, std::nullopt, ColorSettings{});
        b().load("/clips/next.mov", 0.0, std::nullopt, ColorSettings{});
        surface().prepareForPlay(true);
        rig.loop.advance(0.2);
    }
    static bool holdsClip(PlaybackSlot& slot) { return slot.player()->current() != nullptr; }
    // The eased curve's value at a fraction of the time, from the animation the surface makes.
    static float curve(float from, float to, double fraction) {
        return OutputSurface::makeOpacityAnimation(from, to, 1.0).valueAt(fraction);
    }

    SurfaceRig rig;
};

TEST_F(OutputSurfaceTest, StartsWithSlotAOnAirUnderSlotB) {
    EXPECT_TRUE(surface().showingA());
    EXPECT_EQ(surface().dissolveGeneration(), 0u);
    EXPECT_FALSE(surface().isWarming());
    EXPECT_EQ(surface().monitorSize(), (platform::SizeF{1920.0, 1080.0}));
    const auto& layers = surface().rootLayer()->sublayers();
    ASSERT_EQ(layers.size(), 2u);
    EXPECT_EQ(layers[0], a().containerLayer());
    EXPECT_EQ(layers[1], b().containerLayer());
    EXPECT_EQ(a().containerLayer()->zPosition(), 1.0);
    EXPECT_EQ(b().containerLayer()->zPosition(), 2.0);
    EXPECT_EQ(surface().rootLayer()->backgroundColor(), QColor(Qt::black));
    EXPECT_TRUE(surface().rootLayer()->masksToBounds());
    EXPECT_EQ(a().audio().label(), "A");
    EXPECT_EQ(b().audio().label(), "B");
    EXPECT_TRUE(surface().sharedEngine().isRunning());
}

TEST_F(OutputSurfaceTest, ACutSwitchesAtOnceAndClearsTheOutgoingSlot) {
    onAirAndNext();
    std::vector<bool> cuts;
    surface().onCutStarted = [&cuts](bool incomingIsA) { cuts.push_back(incomingIsA); };

    surface().cut(b());
    EXPECT_FALSE(surface().showingA());
    EXPECT_EQ(SurfaceRig::shown(b()), 1.0f);
    EXPECT_EQ(SurfaceRig::shown(a()), 0.0f);
    EXPECT_FALSE(holdsClip(a()));
    EXPECT_TRUE(holdsClip(b()));
    EXPECT_EQ(cuts, std::vector<bool>{false});
}

TEST_F(OutputSurfaceTest, ACutWhileWarmingKeepsTheIncomingSlotDarkButStillSwitches) {
    onAirAndNext();
    surface().setIsWarming(true);
    int cuts = 0;
    surface().onCutStarted = [&cuts](bool) { ++cuts; };
    surface().cut(b());
    EXPECT_FALSE(surface().showingA());
    EXPECT_EQ(SurfaceRig::shown(b()), 0.0f);
    EXPECT_EQ(SurfaceRig::shown(a()), 0.0f);
    EXPECT_FALSE(holdsClip(a()));
    EXPECT_EQ(cuts, 1);
}

// To B (the upper layer): B fades in over A; A stays under it, uncleared, until just after the
// end.
TEST_F(OutputSurfaceTest, ADissolveToBFadesItInAndClearsAJustAfterTheEnd) {
    onAirAndNext();
    const auto start = rig.loop.now();
    std::vector<std::tuple<bool, float, double>> started;
    surface().onDissolveStarted = [&](bool incomingIsA, float out, double d, platform::HostTime) {
        started.emplace_back(incomingIsA, out, d);
    };
    surface().dissolve(b(), 1.0);
    EXPECT_EQ(started, (std::vector<std::tuple<bool, float, double>>{{false, 1.0f, 1.0}}));
    EXPECT_FALSE(a().audio().playerNode()->isPlaying());

    rig.loop.advance(0.5);
    EXPECT_NEAR(SurfaceRig::shown(b()), 0.5f, 1e-6) << "the eased curve's midpoint";
    EXPECT_EQ(SurfaceRig::shown(a()), 1.0f);
    rig.loop.advance(0.25);
    EXPECT_NEAR(SurfaceRig::shown(b()), curve(0.0f, 1.0f, 0.75), 1e-6);

    rig.loop.advance(start + 1.009 - rig.loop.now());
    EXPECT_EQ(SurfaceRig::shown(b()), 1.0f);
    EXPECT_EQ(a().containerLayer()->opacity(), 1.0f);
    EXPECT_TRUE(holdsClip(a()));
    EXPECT_FALSE(b().containerLayer()->hasAnimation(PlaybackSlot::kFadeIn));
    EXPECT_EQ(b().containerLayer()->opacity(), 1.0f);

    rig.loop.advance(0.002);
    EXPECT_EQ(a().containerLayer()->opacity(), 0.0f);
    EXPECT_FALSE(holdsClip(a()));
    EXPECT_EQ(SurfaceRig::shown(b()), 1.0f);
}

// To A (the lower layer): A is there at once, B fades out above it and is cleared at the end.
TEST_F(OutputSurfaceTest, ADissolveToAUncoversItAndClearsBAtTheEnd) {
    onAirAndNext();
    surface().cut(b());
    a().load("/clips/third.mov", 0.0, std::nullopt, ColorSettings{});
    rig.loop.advance(0.2);

    surface().dissolve(a(), 2.0);
    EXPECT_TRUE(surface().showingA());
    EXPECT_EQ(a().containerLayer()->opacity(), 1.0f);
    rig.loop.advance(1.0);
    EXPECT_NEAR(SurfaceRig::shown(b()), 0.5f, 1e-6);
    EXPECT_TRUE(holdsClip(b()));
    rig.loop.advance(1.0);
    rig.loop.runPending();
    EXPECT_FALSE(holdsClip(b()));
    EXPECT_EQ(b().containerLayer()->opacity(), 0.0f);
    EXPECT_FALSE(b().containerLayer()->hasAnimation(PlaybackSlot::kFadeOut));
    EXPECT_EQ(SurfaceRig::shown(a()), 1.0f);
}

// A second dissolve 0.3 s into the first goes on from the picture on screen; the first one's
// steps then do nothing.
TEST_F(OutputSurfaceTest, ADissolveDuringADissolveStartsFromTheScreenAndVoidsTheFirst) {
    onAirAndNext();
    surface().dissolve(b(), 1.0);
    rig.loop.advance(0.3);
    const float bOnScreen = SurfaceRig::shown(b());
    ASSERT_GT(bOnScreen, 0.0f);
    ASSERT_LT(bOnScreen, 1.0f);
    float outgoing = -1.0f;
    surface().onDissolveStarted = [&](bool, float out, double, platform::HostTime) {
        outgoing = out;
    };
    a().load("/clips/back.mov", 0.0, std::nullopt, ColorSettings{});
    rig.loop.advance(0.05);
    const float bAtSecond = SurfaceRig::shown(b());
    const auto generation = surface().dissolveGeneration();

    surface().dissolve(a(), 1.0);
    EXPECT_EQ(surface().dissolveGeneration(), generation + 1);
    EXPECT_FLOAT_EQ(outgoing, bAtSecond);
    EXPECT_FLOAT_EQ(SurfaceRig::shown(b()), bAtSecond) << "no jump at the second start";
    rig.loop.advance(0.5);
    EXPECT_NEAR(SurfaceRig::shown(b()), curve(bAtSecond, 0.0f, 0.5), 1e-6);
    // Past the first dissolve's clean-up time (1.01 s): A, now on air, stays.
    rig.loop.advance(0.3);
    EXPECT_TRUE(holdsClip(a()));
    EXPECT_EQ(a().containerLayer()->opacity(), 1.0f);
    rig.loop.advance(0.3);
    EXPECT_FALSE(holdsClip(b()));
    EXPECT_TRUE(holdsClip(a()));
    EXPECT_EQ(SurfaceRig::shown(a()), 1.0f);
}

// A cut during a dissolve ends it: the slot cut to stays on air.
TEST_F(OutputSurfaceTest, ACutDuringADissolveLeavesTheNewSlotOnAir) {
    struct Case {
        const char* name;
        bool dissolveToB;
    };
    for (const Case c :
         {Case{"during a fade-in of B", true}, Case{"during a fade-out of B", false}}) {
        SCOPED_TRACE(c.name);
        SurfaceRig local;
        OutputSurface& s = local.surface;
        s.slotA().load("/clips/a.mov", 0.0, std::nullopt, ColorSettings{});
        s.slotB().load("/clips/b.mov", 0.0, std::nullopt, ColorSettings{});
        s.prepareForPlay(true);
        if (!c.dissolveToB) {
            s.cut(s.slotB());
            s.slotA().load("/clips/a2.mov", 0.0, std::nullopt, ColorSettings{});
        }
        local.loop.advance(0.2);
        s.dissolve(s.hiddenSlot(), 1.0);
        local.loop.advance(0.3);
        PlaybackSlot& target = s.hiddenSlot();  // the slot the dissolve left
        target.load("/clips/cut.mov", 0.0, std::nullopt, ColorSettings{});
        local.loop.advance(0.1);

        s.cut(target);
        EXPECT_EQ(&s.showingSlot(), &target);
        for (int i = 0; i < 20; ++i) {
            local.loop.advance(0.1);
            EXPECT_EQ(SurfaceRig::shown(target), 1.0f) << "at step " << i;
            EXPECT_EQ(SurfaceRig::shown(s.hiddenSlot()), 0.0f) << "at step " << i;
        }
        EXPECT_TRUE(holdsClip(target));
        EXPECT_TRUE(target.containerLayer()->animationKeys().empty());
    }
}

// Zero, negative and non-finite durations end the dissolve at once.
TEST_F(OutputSurfaceTest, ADissolveWithoutADurationEndsAtOnce) {
    for (const double d : {0.0, -1.0, std::numeric_limits<double>::quiet_NaN(),
                           std::numeric_limits<double>::infinity()}) {
        SCOPED_TRACE(d);
        SurfaceRig local;
        OutputSurface& s = local.surface;
        s.slotA().load("/clips/a.mov", 0.0, std::nullopt, ColorSettings{});
        s.slotB().load("/clips/b.mov", 0.0, std::nullopt, ColorSettings{});
        s.prepareForPlay(true);
        local.loop.advance(0.2);
        double told = -1.0;
        s.onDissolveStarted = [&told](bool, float, double dd, platform::HostTime) { told = dd; };
        s.dissolve(s.slotB(), d);
        EXPECT_EQ(told, 0.0);
        EXPECT_EQ(SurfaceRig::shown(s.slotB()), 1.0f);
        local.loop.advance(0.02);
        EXPECT_EQ(s.slotB().containerLayer()->opacity(), 1.0f);
        EXPECT_FALSE(holdsClip(s.slotA()));
    }
}

// A play request changes nothing on screen: the fade of the slot on air runs on, and the
// hidden slot's share of the mix is held while the slot takes the next clip (or its preload).
TEST_F(OutputSurfaceTest, PreparingForAPlayKeepsTheScreenAsItIsAndKeepsOnlyAPreload) {
    for (const bool preloaded : {true, false}) {
        SCOPED_TRACE(preloaded);
        SurfaceRig local;
        OutputSurface& s = local.surface;
        s.slotA().load("/clips/a.mov", 0.0, std::nullopt, ColorSettings{});
        s.slotB().load("/clips/b.mov", 0.0, std::nullopt, ColorSettings{});
        s.prepareForPlay(true);
        s.dissolve(s.slotB(), 1.0);
        local.loop.advance(0.4);
        if (preloaded) {
            s.slotA().load("/clips/preload.mov", 0.0, std::nullopt, ColorSettings{});
        }
        const auto generation = s.dissolveGeneration();
        const float fadingIn = SurfaceRig::shown(s.slotB());
        ASSERT_GT(fadingIn, 0.0f);
        ASSERT_LT(fadingIn, 1.0f);

        s.prepareForPlay(preloaded);
        EXPECT_EQ(s.dissolveGeneration(), generation + 1);
        EXPECT_EQ(SurfaceRig::shown(s.slotB()), fadingIn);
        EXPECT_EQ(SurfaceRig::shown(s.slotA()), 0.0f);
        EXPECT_EQ(holdsClip(s.slotA()), preloaded);
        EXPECT_TRUE(s.heldLayer());
        local.loop.advance(2.0);
        EXPECT_EQ(SurfaceRig::shown(s.slotB()), 1.0f);
        EXPECT_EQ(holdsClip(s.slotA()), preloaded) << "the old dissolve's clean-up ran";
        EXPECT_TRUE(holdsClip(s.slotB()));
    }
}

// What is on air or on its way there follows the records alone: the cue started or stood by for
// its take before the clip on air, a preload or a warming cue never; a watcher is told each
// change once.
TEST_F(OutputSurfaceTest, OnAirOrOnItsWayIsTheCueOnItsWayElseTheClipOnAir) {
    std::vector<std::optional<SlotRef>> told;
    auto watch = surface().watchOnAirOrOnItsWay(
        [&](const std::optional<SlotRef>& ref) { told.push_back(ref); });
    const auto cueOf = [](int slot, CueState state) {
        Cue cue;
        cue.ref = SlotRef{0, slot};
        cue.url = "/clips/" + std::to_string(slot) + ".mov";
        cue.state = state;
        return cue;
    };
    struct Step {
        const char* what;
        std::function<void()> act;
        std::optional<SlotRef> expected;
    };
    const Step steps[] = {
        {"a preload, nothing on air", [&] { surface().cue(cueOf(1, CueState::loading)); },
         std::nullopt},
        {"the preload ready", [&] { surface().setCueState(CueState::ready); }, std::nullopt},
        {"started for its take", [&] { surface().setCueState(CueState::hiddenPlaying); },
         SlotRef{0, 1}},
        {"taken", [&] { surface().take({}); }, SlotRef{0, 1}},
        {"a warming cue", [&] { surface().cue(cueOf(2, CueState::warming)); }, SlotRef{0, 1}},
        {"a cue on its way", [&] { surface().cue(cueOf(3, CueState::hiddenPlaying)); },
         SlotRef{0, 3}},
        {"its failure", [&] { surface().forgetCue(); }, SlotRef{0, 1}},
        {"a play that clears the hidden slot",
         [&] {
             surface().cue(cueOf(4, CueState::hiddenPlaying));
             surface().prepareForPlay(false);
         },
         SlotRef{0, 1}},
        {"black", [&] { surface().stopAll(); }, std::nullopt},
    };
    for (const Step& step : steps) {
        step.act();
        EXPECT_EQ(surface().onAirOrOnItsWay(), step.expected) << step.what;
    }
    EXPECT_EQ(told,
              (std::vector<std::optional<SlotRef>>{SlotRef{0, 1}, SlotRef{0, 3}, SlotRef{0, 1},
                                                   SlotRef{0, 4}, SlotRef{0, 1}, std::nullopt}));
}

TEST_F(OutputSurfaceTest, StopAllClearsBothSlotsAndVoidsEveryPendingStep) {
    onAirAndNext();
    surface().dissolve(b(), 1.0);
    rig.loop.advance(0.3);
    const auto generation = surface().dissolveGeneration();
    surface().stopAll();
    EXPECT_EQ(surface().dissolveGeneration(), generation + 1);
    EXPECT_TRUE(surface().showingA());
    for (PlaybackSlot* slot : {&a(), &b()}) {
        EXPECT_FALSE(holdsClip(*slot));
        EXPECT_EQ(SurfaceRig::shown(*slot), 0.0f);
        EXPECT_TRUE(slot->containerLayer()->animationKeys().empty());
    }
    a().load("/clips/after.mov", 0.0, std::nullopt, ColorSettings{});
    rig.loop.advance(2.0);
    EXPECT_TRUE(holdsClip(a())) << "the stopped dissolve's clean-up ran";
    ASSERT_FALSE(rig.layerLines.empty());
    EXPECT_NE(rig.layerLines.back().find("] [LAYER] stopAll"), std::string::npos);
}

// A surface that goes while a fade is under way (the program quits mid-dissolve) lets go of
// both slots' layers and clips; a layer kept alive by its own fade's completion would keep its
// player, and a real player's decoding thread, running past the run loop it reads.
TEST(OutputSurfaceLifetime, ASurfaceGoneMidDissolveLeavesNoLayerOrClipAlive) {
    for (const bool towardB : {true, false}) {
        SCOPED_TRACE(towardB ? "toward B, fading in" : "toward A, B fading out");
        std::vector<std::weak_ptr<const void>> held;
        {
            SurfaceRig rig;
            OutputSurface& surface = rig.surface;
            surface.slotA().load("/clips/onair.mov", 0.0, std::nullopt, ColorSettings{});
            surface.slotB().load("/clips/next.mov", 0.0, std::nullopt, ColorSettings{});
            surface.prepareForPlay(true);
            rig.loop.advance(0.2);
            if (!towardB) {
                surface.cut(surface.slotB());
                surface.slotA().load("/clips/third.mov", 0.0, std::nullopt, ColorSettings{});
                rig.loop.advance(0.2);
            }
            surface.dissolve(towardB ? surface.slotB() : surface.slotA(), 4.0);
            rig.loop.advance(1.0);
            for (PlaybackSlot* slot : {&surface.slotA(), &surface.slotB()}) {
                ASSERT_NE(slot->player()->current(), nullptr);
                held.emplace_back(slot->containerLayer());
                held.emplace_back(slot->player()->current());
            }
        }
        for (std::size_t i = 0; i < held.size(); ++i) {
            EXPECT_TRUE(held[i].expired())
                << (i % 2 == 0 ? "layer" : "clip") << " of slot " << (i < 2 ? "A" : "B");
        }
    }
}

// Where a slot's picture lands in a 192x108 view of the 1920x1080 canvas.
TEST_F(OutputSurfaceTest, GeometryPlacesThePictureOnTheCanvasScaledToTheView) {
    using platform::Gravity;
    using platform::RectF;
    struct Case {
        const char* name;
        GeometrySettings geometry;
        double contentWidth, contentHeight;
        RectF frame;
        Gravity gravity;
    };
    const auto geometry = [](GeometryMode mode, double x, double y, double sx, double sy) {
        GeometrySettings g;
        g.mode = mode;
        g.posX = x;
        g.posY = y;
        g.scaleX = sx;
        g.scaleY = sy;
        return g;
    };
    const Case cases[] = {
        {"fit",
         geometry(GeometryMode::fitToWindow, 0, 0, 10, 10),
         0,
         0,
         {0, 0, 192, 108},
         Gravity::ResizeAspect},
        {"custom, full and centred",
         geometry(GeometryMode::custom, 960, 540, 100, 100),
         0,
         0,
         {0, 0, 192, 108},
         Gravity::Resize},
        {"custom, half size at the lower-left quarter's centre",
         geometry(GeometryMode::custom, 480, 270, 50, 50),
         0,
         0,
         {0, 0, 96, 54},
         Gravity::Resize},
        {"custom, negative scale: nothing drawn, at the position",
         geometry(GeometryMode::custom, 960, 540, -50, 50),
         0,
         0,
         {96, 54, 0, 0},
         Gravity::Resize},
        {"custom, zero scale: nothing drawn",
         geometry(GeometryMode::custom, 480, 270, 50, 0),
         0,
         0,
         {48, 27, 0, 0},
         Gravity::Resize},
        {"original size",
         geometry(GeometryMode::originalSize, 1440, 540, 100, 100),
         640,
         360,
         {112, 36, 64, 36},
         Gravity::Resize},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        surface().applyGeometry(c.geometry, b(), c.contentWidth, c.contentHeight);
        const RectF f = b().containerLayer()->frame();
        EXPECT_NEAR(f.x, c.frame.x, 1e-9);
        EXPECT_NEAR(f.y, c.frame.y, 1e-9);
        EXPECT_NEAR(f.width, c.frame.width, 1e-9);
        EXPECT_NEAR(f.height, c.frame.height, 1e-9);
        EXPECT_EQ(b().videoLayer()->frame(), (RectF{0, 0, f.width, f.height}));
        EXPECT_EQ(b().videoLayer()->videoGravity(), c.gravity);
    }
}

TEST_F(OutputSurfaceTest, ANonFiniteGeometryIsRefusedWithALogLine) {
    GeometrySettings half;
    half.mode = GeometryMode::custom;
    half.scaleX = half.scaleY = 50;
    surface().applyGeometry(half, b(), 0, 0);
    const auto before = b().containerLayer()->frame();
    for (const double bad :
         {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()}) {
        GeometrySettings g = half;
        g.posX = bad;
        surface().applyGeometry(g, b(), 0, 0);
        GeometrySettings original;
        original.mode = GeometryMode::originalSize;
        surface().applyGeometry(original, b(), bad, 100);
    }
    EXPECT_EQ(b().containerLayer()->frame(), before);
    rig.loop.runPending();
    int refusals = 0;
    for (const auto& line : rig.layerLines) {
        refusals += line.find("geometry refused") != std::string::npos;
    }
    EXPECT_EQ(refusals, 4);
    // Still placed by the last good geometry after a layout pass.
    surface().layout();
    EXPECT_EQ(b().containerLayer()->frame(), before);
}

// A layout pass keeps each slot's geometry, fitted to the new view; a cleared slot fills it.
TEST_F(OutputSurfaceTest, LayoutKeepsTheAppliedGeometryUntilTheSlotIsCleared) {
    GeometrySettings half;
    half.mode = GeometryMode::custom;
    half.posX = 480;
    half.posY = 270;
    half.scaleX = half.scaleY = 50;
    surface().applyGeometry(half, b(), 0, 0);
    surface().setViewSize({384.0, 216.0});
    EXPECT_EQ(b().containerLayer()->frame(), (platform::RectF{0, 0, 192, 108}));
    EXPECT_EQ(a().containerLayer()->frame(), (platform::RectF{0, 0, 384, 216}));
    EXPECT_EQ(b().videoLayer()->frame(), (platform::RectF{0, 0, 192, 108}));

    b().clear();
    surface().setViewSize({192.0, 108.0});
    EXPECT_EQ(b().containerLayer()->frame(), (platform::RectF{0, 0, 192, 108}));
    EXPECT_EQ(b().videoLayer()->frame(), (platform::RectF{0, 0, 192, 108}));
}

// The chains' format for a clip, by the device's channels and the clip's.
TEST(OutputSurfaceEngine, TheChainsFitTheClipWithinTheDevice) {
    struct Case {
        uint32_t device, clip;
        double rate;
        uint32_t channels;
        double expectedRate;
        bool effects;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Case cases[] = {
        {1, 1, 44100.0, 2, 44100.0, true},  {2, 1, 48000.0, 2, 48000.0, true},
        {8, 6, 48000.0, 6, 48000.0, false}, {2, 6, 48000.0, 2, 48000.0, true},
        {8, 2, 96000.0, 2, 96000.0, true},  {2, 2, nan, 2, 48000.0, true},
        {2, 2, -1.0, 2, 48000.0, true},     {2, 2, 1e300, 2, 48000.0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.device << " device channels, " << c.clip
                                          << " clip channels at " << c.rate);
        SurfaceRig rig(c.device);
        platform::Console::Capture console;
        rig.surface.reconfigureAudioEngine(c.clip, c.rate);
        for (PlaybackSlot* slot : {&rig.surface.slotA(), &rig.surface.slotB()}) {
            EXPECT_EQ(slot->audio().currentFormat().channelCount, c.channels);
            EXPECT_EQ(slot->audio().currentFormat().sampleRate, c.expectedRate);
            EXPECT_EQ(slot->audio().usesEffects(), c.effects);
        }
        const std::string line = "AudioEngine 再設定: → " + std::to_string(c.channels) + "ch @" +
                                 std::to_string(int(c.expectedRate)) +
                                 "Hz (デバイス上限: " + std::to_string(c.device) + "ch)";
        const bool changed = !(c.channels == 2 && c.expectedRate == 48000.0 && c.effects);
        EXPECT_EQ(console.contains(line), changed) << line;
        console.clear();
        rig.surface.reconfigureAudioEngine(c.clip, c.rate);
        EXPECT_TRUE(console.lines().empty()) << "asked twice";
    }
}

TEST_F(OutputSurfaceTest, LayerLogLinesAreStampedPrintedAndPostedInOrder) {
    platform::Console::Capture console;
    onAirAndNext();
    rig.layerLines.clear();
    surface().cut(b());
    EXPECT_TRUE(rig.layerLines.empty()) << "posted, not called inside the cut";
    rig.loop.runPending();
    const std::string stamp = "[" + platform::formatTimeOfDay(rig.wallClock->now()) + "] [LAYER] ";
    const std::vector<std::string> expected = {
        "--- cut直前 ---", "  slotA z=1.0 op=1.0", "  slotB z=2.0 op=0.0", "  showingA=false",
        "--- cut完了 ---", "  slotA z=1.0 op=0.0", "  slotB z=2.0 op=1.0", "  showingA=false",
    };
    std::vector<std::string> printed;
    for (const auto& line : console.lines()) {
        if (line.find("[LAYER]") != std::string::npos) {
            printed.push_back(line);
        }
    }
    ASSERT_EQ(rig.layerLines.size(), expected.size());
    ASSERT_GE(printed.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(rig.layerLines[i], stamp + expected[i]);
        EXPECT_EQ(printed[printed.size() - expected.size() + i], stamp + expected[i]);
    }
    // "[HH:mm:ss.SSS] [LAYER] ", the milliseconds those of the fixed clock.
    ASSERT_EQ(stamp.size(), 23u);
    for (const std::size_t digit : {1u, 2u, 4u, 5u, 7u, 8u}) {
        EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(stamp[digit]))) << stamp;
    }
    EXPECT_EQ(stamp.substr(3, 1) + stamp.substr(6, 1), "::");
    EXPECT_EQ(stamp.substr(9), ".123] [LAYER] ");
}

}  // namespace
}  // namespace kestio::output

namespace kestio::output {
namespace {

// A clip of another format readied beside the sound on air: the chain on air keeps its wiring
// (no gap, no change of pitch or equaliser); the other chain takes the new one.
TEST(OutputSurfaceEngine, TheChainOnAirKeepsItsWiringWhileItPlays) {
    SurfaceRig rig(8);
    PlaybackSlot& onAir = rig.surface.slotA();
    bool loaded = false;
    onAir.audio().load(test::mediaFixtures().audio("wav").path, 0.0, std::nullopt,
                       [&loaded](bool) { loaded = true; });
    ASSERT_TRUE(rig.settle([&] { return loaded; }));
    ASSERT_TRUE(onAir.audio().isReady());
    const auto& node = onAir.audio().playerNode();
    node->scheduleSegment(onAir.audio().audioFile(), onAir.audio().fileStartFrame(),
                          onAir.audio().fileTotalFrames());
    node->play();
    ASSERT_TRUE(node->isPlaying());
    const auto before = onAir.audio().currentFormat();

    rig.surface.reconfigureAudioEngine(6, 44100.0);
    EXPECT_EQ(onAir.audio().currentFormat(), before);
    EXPECT_TRUE(onAir.audio().usesEffects());
    EXPECT_EQ(rig.surface.slotB().audio().currentFormat().channelCount, 6u);
    EXPECT_EQ(rig.surface.slotB().audio().currentFormat().sampleRate, 44100.0);
    EXPECT_FALSE(rig.surface.slotB().audio().usesEffects());
    EXPECT_TRUE(node->isPlaying());

    // Once it is off air and silent, it takes the clip's wiring too.
    node->stop();
    rig.surface.reconfigureAudioEngine(6, 44100.0);
    EXPECT_EQ(onAir.audio().currentFormat().channelCount, 6u);
}

}  // namespace
}  // namespace kestio::output
