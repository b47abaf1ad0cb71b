// Changes made while a picture is on air, on the real surface (decoded clips, paired clip
// players, its own engine) over the null device: every output frame is composed from the whole
// layer tree and the sound read back block by block. A take over whatever is on screen goes on
// from that picture; a level or an out point set on air lands without a step outside the change.

#include <gtest/gtest.h>

#include <QImage>
#include <algorithm>
#include <cmath>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "output/external_monitor_content_view.h"
#include "output/output_surface.h"
#include "platform/audio/audio_player_node.h"
#include "platform/graphics/compositor.h"
#include "platform/graphics/layer.h"
#include "platform/media/decoded_media_factory.h"
#include "platform/runloop/manual_run_loop.h"
#include "support/frame_number_strip.h"
#include "support/media_fixtures.h"
#include "support/null_audio_device.h"
#include "support/playback_test_support.h"
#include "support/pulled_sound.h"
#include "support/signal_analysis.h"

namespace kestio::output {
namespace {

using platform::ClockTime;
using platform::ItemTime;

constexpr double kRate = 48000.0;
// One output frame of a 60 Hz screen, in frames of sound.
constexpr uint32_t kFrameBlock = 800;
constexpr QSize kView{320, 180};
// Where a picture's level is read: below the number strip, inside the clips' first quadrant.
constexpr QRect kPatch{20, 110, 100, 50};
// The incoming clip starts here: its frame 30 at 30 frames a second.
constexpr double kInPoint = 1.0;
constexpr int kInPointFrame = 30;

double levelOf(const QImage& picture) {
    double sum = 0.0;
    for (int y = kPatch.top(); y <= kPatch.bottom(); ++y) {
        for (int x = kPatch.left(); x <= kPatch.right(); ++x) {
            sum += qGray(picture.pixel(x, y));
        }
    }
    return sum / (kPatch.width() * kPatch.height());
}

QImage solid(int grey) {
    QImage image(160, 90, QImage::Format_RGB32);
    image.fill(qRgb(grey, grey, grey));
    return image;
}

class OnAirChanges : public ::testing::Test {
  protected:
    OnAirChanges() {
        surface.setViewSize({double(kView.width()), double(kView.height())});
        monitor.layout({double(kView.width()), double(kView.height())});
    }

    double clockNow() { return surface.sharedEngine().clock()->timeAt(loop.now()).seconds(); }

    // One output frame: its sound pulled (moving host time by it), then the picture composed.
    void frame() {
        device->pull(0);
        for (auto* chain : {&surface.audioA(), &surface.audioB()}) {
            ASSERT_TRUE(chain->playerNode()->waitUntilPrepared(20.0)) << "read-ahead stalled";
        }
        sound.pull(kFrameBlock, loop.now().seconds());
        loop.advance(kFrameBlock / kRate);
        ASSERT_TRUE(platform::media::testing::waitForDecodedAhead(
            {surface.slotA().player().get(), surface.slotB().player().get()}));
        loop.runPending();
        frames.push_back(compositor.render(*surface.rootLayer(), loop.now(), kView));
        mirrored.push_back(compositor.render(*monitor.rootLayer(), loop.now(), kView));
    }
    bool framesUntil(const std::function<bool()>& done) {
        for (int i = 0; i < 600 && !done() && !HasFatalFailure(); ++i) {
            loop.waitForPosted(0.002);
            frame();
        }
        return done();
    }
    void framesFor(double seconds) {
        for (int i = 0; i < int(std::lround(seconds * 60.0)) && !HasFatalFailure(); ++i) {
            frame();
        }
    }

    // Starts `clip` from `from` in `slot` as the playback controller does: loaded there, its
    // clip player started as soon as picture and sound are ready. The start's clock time.
    // A slot that holds the clip already (a preload) only starts it.
    double startIn(PlaybackSlot& slot, const std::filesystem::path& clip, double from,
                   std::optional<double> to = std::nullopt) {
        if (!slot.player()->current()) {
            slot.load(clip, from, to, {});
        }
        slot.audio().setLevel(0.0f, false);
        EXPECT_TRUE(framesUntil([&] { return slot.audio().loadFinished(); }));
        bool ready = false;
        slot.clipPlayer().play(slot.currentClip(), ItemTime(from), ClockTime(clockNow()),
                               [&ready](bool r) { ready = r; });
        EXPECT_TRUE(framesUntil([&] { return ready && slot.clipPlayer().startTime().get(); }));
        const auto start = slot.clipPlayer().startTime().get();
        return start ? start->seconds() : 0.0;
    }

    platform::ManualRunLoop loop;
    std::shared_ptr<test::NullAudioDevice> device =
        std::make_shared<test::NullAudioDevice>(kRate, 2, "Null Output", loop.hostClock());
    test::PulledSound sound{*device, 1.0 / kRate};
    platform::media::DecodedMediaFactory media{loop};
    OutputSurface surface{OutputSurface::Services{loop, device, media}};
    // The output window's mirror of the surface, on a canvas of the view's size.
    ExternalMonitorContentView monitor{
        loop, surface, {double(kView.width()), double(kView.height())}};
    platform::Compositor compositor;
    // The surface's composed frames and its mirror's, one of each per output frame.
    std::vector<QImage> frames;
    std::vector<QImage> mirrored;
};

// ---- A take over what is on screen ----

enum class OnScreen { still, midDissolve, loopSeam };

struct TakeRow {
    const char* name;
    OnScreen state;
    bool dissolve;
    // The clip is cued ahead (loaded into the hidden slot while the picture on air goes on).
    bool preloaded = false;
    // The cue is taken as soon as its picture can be shown, and started after.
    bool atOnce = false;
};

// Every take over every state, to a clip from its in point: no composed frame is brighter than
// both its neighbours, a dissolve moves the picture no faster than its own fade could, a cut
// moves it once, and nothing of the incoming clip from before its in point is ever composed;
// after a cut every frame is the clip alone, first its in-point frame.
TEST_F(OnAirChanges, ATakeGoesOnFromThePictureOnScreen) {
    const TakeRow rows[] = {
        {"cut over a still", OnScreen::still, false},
        {"dissolve over a still", OnScreen::still, true},
        {"cut mid-dissolve", OnScreen::midDissolve, false},
        {"dissolve mid-dissolve", OnScreen::midDissolve, true},
        {"cut over a loop seam", OnScreen::loopSeam, false},
        {"dissolve over a loop seam", OnScreen::loopSeam, true},
        {"cut to a cue loaded mid-dissolve", OnScreen::midDissolve, false, true},
        {"dissolve to a cue loaded mid-dissolve", OnScreen::midDissolve, true, true},
        {"cut at once to a cue loaded mid-dissolve", OnScreen::midDissolve, false, true, true},
    };
    const auto& incoming = test::mediaFixtures().rateClip({30, 1});
    const auto& looping = test::mediaFixtures().rateClip({24, 1});
    constexpr double kTakeDissolve = 1.0;
    for (const TakeRow& row : rows) {
        SCOPED_TRACE(row.name);
        surface.stopAll();
        frames.clear();
        mirrored.clear();
        // What is on air: slot A, then (mid-dissolve) slot B fading in over it.
        surface.prepareForPlay(false);
        if (row.state == OnScreen::loopSeam) {
            PlaybackSlot& a = surface.slotA();
            bool ready = false;
            auto asset = media.makeAsset(looping.path);
            a.startLoop(looping.path, asset, media.makeItem(asset), 0.0, 0.5,
                        [&ready] { ready = true; });
            ASSERT_TRUE(framesUntil([&] { return ready && a.clipPlayer().startTime().get(); }));
            surface.prepareForPlay(true);
            const double start = a.clipPlayer().startTime().get()->seconds();
            const double seam = start + 0.5 * std::ceil((clockNow() - start) / 0.5 + 1.0);
            while (clockNow() < seam - 0.05 && !HasFatalFailure()) {
                frame();
            }
        } else {
            surface.slotA().showStill(solid(120), {});
            surface.prepareForPlay(true);
            if (row.state == OnScreen::midDissolve) {
                surface.slotB().showStill(solid(230), {});
                surface.dissolve(surface.slotB(), 2.0);
                framesFor(0.9);
            }
        }
        framesFor(0.1);
        ASSERT_FALSE(HasFatalFailure());
        const std::size_t requested = frames.size();

        // The take, as a play request makes it: of the cue loaded ahead, or of its own load.
        if (row.preloaded) {
            Cue cue;
            cue.url = incoming.path;
            cue.inPoint = kInPoint;
            surface.loadCue(cue, std::nullopt, {});
            framesFor(0.2);
        }
        surface.prepareForPlay(row.preloaded);
        PlaybackSlot& in = surface.hiddenSlot();
        std::size_t taken = 0;
        if (row.atOnce) {
            ASSERT_TRUE(framesUntil([&] { return in.playerLayer().readyForDisplay(); }));
            surface.take({row.dissolve, kTakeDissolve});
            taken = frames.size();
            frame();
            startIn(in, incoming.path, kInPoint);
        } else {
            const double start = startIn(in, incoming.path, kInPoint);
            ASSERT_FALSE(HasFatalFailure());
            surface.take({row.dissolve, kTakeDissolve}, ClockTime(start));
            taken = frames.size();
        }
        framesFor(kTakeDissolve + 0.3);
        ASSERT_FALSE(HasFatalFailure());

        for (const auto* seen : {&frames, &mirrored}) {
            SCOPED_TRACE(seen == &frames ? "the surface" : "its mirror");
            std::vector<double> level;
            for (const QImage& f : *seen) {
                level.push_back(levelOf(f));
            }
            // A dissolve's eased fade moves at most about 1.6 times as fast as a straight one.
            const double fastest = 2.0 * 255.0 / (kTakeDissolve * 60.0) + 2.0;
            int jumps = 0;
            // From the last frame before the request on.
            for (std::size_t i = requested - 1; i + 1 < level.size(); ++i) {
                if (i > 0) {
                    EXPECT_FALSE(level[i] > level[i - 1] + 3.0 && level[i] > level[i + 1] + 3.0)
                        << "frame " << i << " flashes: " << level[i - 1] << " " << level[i] << " "
                        << level[i + 1];
                }
                if (std::abs(level[i + 1] - level[i]) > fastest) {
                    ++jumps;
                    EXPECT_TRUE(!row.dissolve && i + 1 >= taken)
                        << "frame " << i + 1 << " jumps " << level[i] << " -> " << level[i + 1];
                }
            }
            EXPECT_LE(jumps, row.dissolve ? 0 : 1);
            for (std::size_t i = requested; i < seen->size(); ++i) {
                const int number = test::readFrameNumber((*seen)[i]);
                const bool alone = i >= taken && (!row.dissolve ||
                                                  i >= taken + std::size_t(kTakeDissolve * 60) + 2);
                if (alone) {
                    EXPECT_GE(number, kInPointFrame) << "frame " << i << " after the take";
                }
                if (number >= 0 && number < kInPointFrame && row.state != OnScreen::loopSeam) {
                    ADD_FAILURE() << "frame " << i << " shows clip frame " << number;
                }
            }
            if (!row.dissolve) {
                const int first = test::readFrameNumber((*seen)[taken]);
                EXPECT_GE(first, kInPointFrame);
                EXPECT_LE(first, kInPointFrame + 1);
            }
        }
    }
}

// ---- Edits on air ----

enum class Edit { level, outPoint };

struct EditRow {
    const char* name;
    Edit edit;
    // A level in dB, or an out point in seconds (from: the one it was started with, 0 for none);
    // the clip is on air from its start, and the edit comes a second in.
    float from;
    float to;
    bool duringDissolve;
};

// Every kind of edit on the clip on air. A level: the tone read one 1 kHz period (a millisecond)
// at a time is at the old level before, at the new one 30 ms after, and between them every
// period's level lies within the two and no more than a decibel from the one before (a glide,
// not a step). An out point: no composed frame from then on is past it, the picture comes to
// rest on the frame before it, and the tone stops where its own schedule reaches it (at once for
// an out point already passed), not at a later look of the main thread's.
TEST_F(OnAirChanges, AnEditOnAirLandsCleanly) {
    const EditRow rows[] = {
        {"level up", Edit::level, -6.0f, 0.0f, false},
        {"level down", Edit::level, 0.0f, -6.0f, false},
        {"level up during a dissolve", Edit::level, -6.0f, 0.0f, true},
        {"level down during a dissolve", Edit::level, 0.0f, -6.0f, true},
        {"out point after the frame on screen", Edit::outPoint, 0.0f, 1.2f, false},
        {"out point before the frame on screen", Edit::outPoint, 0.0f, 0.8f, false},
        {"out point during a dissolve", Edit::outPoint, 0.0f, 1.2f, true},
        {"out point moved later", Edit::outPoint, 1.1f, 1.3f, false},
        {"out point moved earlier", Edit::outPoint, 1.3f, 1.2f, false},
    };
    const auto& clip = test::mediaFixtures().rateClip({30, 1});
    constexpr std::size_t kPeriod = 48;
    for (const EditRow& row : rows) {
        SCOPED_TRACE(row.name);
        surface.stopAll();
        surface.prepareForPlay(false);
        if (row.duringDissolve) {
            surface.slotA().showStill(solid(120), {});
            surface.prepareForPlay(true);
        }
        PlaybackSlot& slot = surface.hiddenSlot();
        const bool startedWithEnd = row.edit == Edit::outPoint && row.from > 0.0f;
        const double start = startIn(
            slot, clip.path, 0.0, startedWithEnd ? std::optional(double(row.from)) : std::nullopt);
        if (row.edit == Edit::level) {
            slot.audio().setLevel(row.from, false);
        }
        surface.take({row.duringDissolve, 2.0}, ClockTime(start));
        while (clockNow() < start + 1.0 && !HasFatalFailure()) {
            frame();
        }
        ASSERT_FALSE(HasFatalFailure());
        const uint64_t from = sound.pulled() - 50 * kPeriod;
        const uint64_t changed = sound.pulled();
        const std::size_t edited = frames.size();
        // Where the clip's sound is at the change, on its own schedule (it started from 0).
        const double heardAt =
            slot.audio().playerNode()->playerTime(ClockTime(clockNow())).value_or(-1.0);
        if (row.edit == Edit::level) {
            slot.audio().setLevel(row.to, false);
        } else {
            slot.setEndTime(double(row.to));
        }
        framesFor(0.4);
        ASSERT_FALSE(HasFatalFailure());

        if (row.edit == Edit::outPoint) {
            // The clip's frame before the out point (the frame on screen when that is earlier).
            int last = int(std::lround(row.to * 30.0)) - 1;
            // On a busy machine the edit can land as the frame at the new end goes up: that
            // frame stays, as it does for an out point set at the frame on screen.
            if (edited > 0 && test::readFrameNumber(frames[edited - 1]) == last + 1) {
                last += 1;
            }
            int shown = -1;
            for (std::size_t i = edited; i < frames.size(); ++i) {
                const int number = test::readFrameNumber(frames[i]);
                EXPECT_LE(number, last) << "frame " << i << " is past the out point";
                if (number >= 0 && !row.duringDissolve) {
                    EXPECT_GE(number, shown) << "frame " << i << " steps back";
                    shown = number;
                }
            }
            EXPECT_EQ(test::readFrameNumber(frames.back()), last);
        }
        const auto heard = sound.leftFrom(from);
        const auto levelAt = [&](std::size_t at) {
            return test::rmsDb(heard.subspan(at, kPeriod)) -
                   20.0 * std::log10(test::kToneAmplitude / std::sqrt(2.0));
        };
        const std::size_t change = changed - from;
        if (row.edit == Edit::outPoint) {
            // The periods heard after the change: sounding up to the out point, silent after.
            const double end = std::max(0.0, double(row.to) - heardAt) * 1000.0;
            for (std::size_t at = change; at + kPeriod <= heard.size(); at += kPeriod) {
                const double ms = double(at - change) / 48.0;
                if (ms + 1.0 < end - 3.0) {
                    EXPECT_GT(levelAt(at), -20.0) << ms << " ms after the change";
                } else if (ms > end + 6.0) {
                    EXPECT_LT(levelAt(at), -60.0) << ms << " ms after the change: past the end";
                }
            }
            continue;
        }
        const double low = std::min(row.from, row.to) - 0.3;
        const double high = std::max(row.from, row.to) + 0.3;
        EXPECT_NEAR(levelAt(change - 2 * kPeriod), row.from, 0.3);
        double before = levelAt(change - kPeriod);
        for (std::size_t at = change; at + kPeriod <= heard.size(); at += kPeriod) {
            const double level = levelAt(at);
            EXPECT_GE(level, low) << (at - change) / 48.0 << " ms after the change";
            EXPECT_LE(level, high) << (at - change) / 48.0 << " ms after the change";
            EXPECT_LE(std::abs(level - before), 1.0)
                << "a step " << (at - change) / 48.0 << " ms after the change";
            before = level;
        }
        EXPECT_NEAR(levelAt(change + 30 * kPeriod), row.to, 0.3);
    }
}

// Takes in quick succession, each over the transition of the one before (an operator's Cut Go
// every fifth of a second over dissolve cues, a dissolve fired during a dissolve, a cut among
// them): the output window's mirror composes, frame for frame, the picture the surface composes.
TEST_F(OnAirChanges, TheMirrorComposesTheProgramThroughQuickTakes) {
    struct Row {
        const char* name;
        double interval;
        // The takes after the first, each a dissolve unless marked cut ('c').
        const char* takes;
        double dissolve;
    };
    const Row rows[] = {
        {"dissolves every 0.2 s", 0.2, "dddddddd", 2.0},
        {"dissolves every 0.25 s", 0.25, "dddddd", 2.0},
        {"a dissolve during a dissolve", 0.9, "dd", 2.0},
        {"a dissolve during its fade-out", 1.6, "ddd", 2.0},
        {"a cut among quick dissolves", 0.2, "ddcdd", 2.0},
        {"short dissolves back and forth", 0.3, "dddddd", 0.5},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        surface.stopAll();
        frames.clear();
        mirrored.clear();
        surface.prepareForPlay(false);
        surface.slotA().showStill(solid(40), {});
        surface.take({false, 0.0});
        framesFor(0.1);
        int grey = 40;
        for (const char* take = row.takes; *take != '\0' && !HasFatalFailure(); ++take) {
            // Each cue a level of its own, as a play request loads it into the hidden slot.
            grey = 40 + (grey + 73) % 200;
            surface.prepareForPlay(false);
            surface.hiddenSlot().showStill(solid(grey), {});
            surface.take({*take == 'd', row.dissolve});
            framesFor(row.interval);
        }
        framesFor(row.dissolve + 0.3);
        ASSERT_FALSE(HasFatalFailure());
        ASSERT_EQ(frames.size(), mirrored.size());
        int apart = 0;
        for (std::size_t i = 0; i < frames.size(); ++i) {
            const double program = levelOf(frames[i]);
            const double window = levelOf(mirrored[i]);
            if (std::abs(program - window) > 2.0 && ++apart <= 5) {
                ADD_FAILURE() << "frame " << i << ": program " << program << ", output window "
                              << window;
            }
        }
        EXPECT_EQ(apart, 0) << "frames composed apart";
    }
}

}  // namespace
}  // namespace kestio::output
