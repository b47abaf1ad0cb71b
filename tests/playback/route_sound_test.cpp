// Every route that puts a cue on air plays it with the slot's own level, mute and equaliser:
// fired, stood by then played (the ▶ button and a MIDI Play note resume it), stood by then fired
// (Return), looping, and taken by a post-roll Next from its preload. Real clips (their 1 kHz
// tone), the real slots and chains, the sound read from what the null device rendered.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "playback_rig.h"
#include "real_clip_rig.h"
#include "support/media_fixtures.h"
#include "support/playback_test_support.h"
#include "support/signal_analysis.h"

namespace kestio {
namespace {

constexpr int kSource = 0;  // post-roll Next into the cue
constexpr int kCue = 1;     // the slot whose settings are heard

struct Settings {
    const char* name;
    float gainDb = 0.0f;
    bool muted = false;
    float band1k25 = 0.0f;
};

struct Route {
    const char* name;
    std::function<void(class RouteSound&)> toAir;
};

class RouteSound : public ::testing::Test, public test::RealClipRig {
  public:
    RouteSound() : RealClipRig(true) {
        const auto& clip = test::mediaFixtures().rateClip({30, 1});
        project = test::makeProject(1, 1, 2);
        for (auto& slot : project.banks[0].slots) {
            slot.videoURL = clip.path;
            slot.clipInfo->duration = clip.duration;
        }
        auto& source = project.banks[0].slots[kSource];
        source.outPoint = 0.4;
        source.postRollMode = PostRollMode::next;
        controller->onRequestPlay = [this](int bank, int slot) { fire(bank, slot); };
        controller->onRequestPreloadNext = [this](int bank, int slot) {
            const auto& data = project.banks[std::size_t(bank)].slots[std::size_t(slot)];
            controller->preloadNext(bank, slot, *data.videoURL, data);
        };
    }
    void run(double seconds) {
        for (int i = 0; i < int(std::lround(seconds / kStep)); ++i) {
            step();
        }
    }
    void fire(int bank, int slot) {
        const auto& data = project.banks[std::size_t(bank)].slots[std::size_t(slot)];
        controller->play(bank, slot, *data.videoURL, data, {320.0, 180.0});
    }
    void standby(int slot) {
        const auto& data = project.banks[0].slots[std::size_t(slot)];
        controller->standby(0, slot, *data.videoURL, data, {320.0, 180.0});
    }
    void set(const Settings& settings) {
        auto& cue = project.banks[0].slots[kCue];
        cue.audioSettings.masterLevel = settings.gainDb;
        cue.audioSettings.isMuted = settings.muted;
        cue.equalizer.khz1_25 = settings.band1k25;
    }
    // The cue's tone as heard once it is on air: the level of the last 0.3 s of `seconds`.
    double heardAfter(const Route& route, double seconds = 0.9) {
        route.toAir(*this);
        run(seconds);
        const auto& heard = device->channel(0);
        const std::size_t window = std::size_t(0.3 * kRate);
        EXPECT_GT(heard.size(), window);
        return test::rms(std::span<const float>(heard).subspan(heard.size() - window));
    }
};

const Route kRoutes[] = {
    {"Fire", [](RouteSound& t) { t.fire(0, kCue); }},
    // The ▶ button and a MIDI Play note both resume the cue stood by on air.
    {"StandbyThenPlay",
     [](RouteSound& t) {
         t.standby(kCue);
         t.run(0.5);
         t.controller->resume();
     }},
    {"StandbyThenReturn",
     [](RouteSound& t) {
         t.standby(kCue);
         t.run(0.5);
         t.fire(0, kCue);
     }},
    {"Loop",
     [](RouteSound& t) {
         t.project.banks[0].slots[kCue].postRollMode = PostRollMode::loop;
         t.fire(0, kCue);
     }},
    {"PostRollNext",
     [](RouteSound& t) {
         t.fire(0, kSource);
         t.run(0.6);  // past the source's out point: the cue follows
     }},
};

const Settings kSettings[] = {
    {"MinusTwentyFour", -24.0f, false, 0.0f},
    {"Muted", 0.0f, true, 0.0f},
    {"EqualiserBoost", 0.0f, false, 12.0f},
};

struct RouteCase {
    Route route;
    Settings settings;
    friend void PrintTo(const RouteCase& c, std::ostream* out) {
        *out << c.route.name << " " << c.settings.name;
    }
};

class RouteSoundTable : public RouteSound, public ::testing::WithParamInterface<RouteCase> {};

TEST_P(RouteSoundTable, TheCueIsHeardWithItsSlotsSound) {
    const auto& [route, settings] = GetParam();
    set(settings);
    const double heard = heardAfter(route);
    // The clip's tone (a sine of this peak) at unity and flat.
    const double unity = test::kToneAmplitude / std::sqrt(2.0);
    const double db = 20.0 * std::log10(std::max(heard, 1e-9) / unity);
    if (settings.muted) {
        EXPECT_LT(db, -60.0) << "heard while muted";
    } else if (settings.band1k25 != 0.0f) {
        // A +12 dB band at 1.25 kHz lifts the 1 kHz tone by about 9.5 dB.
        EXPECT_NEAR(db, 9.5, 1.5);
    } else {
        EXPECT_NEAR(db, settings.gainDb, 1.0);
    }
}

std::vector<RouteCase> routeCases() {
    std::vector<RouteCase> cases;
    for (const Route& route : kRoutes) {
        for (const Settings& settings : kSettings) {
            cases.push_back({route, settings});
        }
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Routes, RouteSoundTable, ::testing::ValuesIn(routeCases()),
                         [](const auto& param) {
                             return std::string(param.param.route.name) + "_" +
                                    param.param.settings.name;
                         });

// A post-roll Next into a preloaded cue with an in point: the cue's sound follows the sound on
// air without a hole (the preloaded picture is not decoded again while the sound waits).
TEST_F(RouteSound, ANextSeamIntoAPreloadedCueLeavesNoHoleInTheSound) {
    for (const double inPoint : {0.0, 0.5}) {
        SCOPED_TRACE(inPoint);
        project.banks[0].slots[kCue].inPoint = inPoint;
        device->clearCaptured();
        fire(0, kSource);
        run(1.2);
        const auto& heard = device->channel(0);
        const std::size_t start = test::firstAbove(heard, float(0.5 * test::kToneAmplitude));
        ASSERT_LT(start, heard.size());
        // The longest stretch the tone never lifts above a tenth of its peak (a zero crossing
        // lasts a sample or two), from the first cue's start to well past the seam.
        std::size_t longest = 0;
        std::size_t quiet = 0;
        for (std::size_t i = start; i < heard.size(); ++i) {
            quiet = std::abs(heard[i]) < 0.1f * float(test::kToneAmplitude) ? quiet + 1 : 0;
            longest = std::max(longest, quiet);
        }
        EXPECT_LT(double(longest) / kRate, 0.002) << "a hole at the seam";

        controller->handlePostRoll(PostRollMode::black);
        run(0.3);
    }
}

}  // namespace
}  // namespace kestio
