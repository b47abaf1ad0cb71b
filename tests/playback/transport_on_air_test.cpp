// Every transport action acts on what is cued or on air now, on the real classes: clips decoded
// by FFmpeg that carry their slot in their picture (one colour each) and their sound (one tone
// each). After each action in each state the composed output, the sound heard and the published
// slot and length all belong to the slot the action names.

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <array>
#include <chrono>
#include <cmath>
#include <memory>
#include <optional>
#include <string>

#include "output/output_surface.h"
#include "platform/graphics/compositor.h"
#include "playback_rig.h"
#include "real_clip_rig.h"
#include "support/process_runner.h"
#include "support/signal_analysis.h"
#include "support/temporary_folder.h"

namespace kestio {
namespace {

// Slot i: one colour, one tone and one length of its own. Slot 4 loops.
struct SlotLook {
    QRgb colour;
    double tone;
    double seconds;
};
constexpr std::array<SlotLook, 5> kSlots{{{qRgb(230, 20, 20), 500.0, 2.0},
                                          {qRgb(20, 200, 20), 800.0, 2.4},
                                          {qRgb(20, 20, 230), 1100.0, 2.8},
                                          {qRgb(230, 230, 20), 1400.0, 3.2},
                                          {qRgb(220, 20, 220), 1700.0, 3.6}}};
constexpr int kLoopSlot = 4;
constexpr int kNamed = 3;  // the slot a play or a standby names

const std::filesystem::path& clipOf(int slot) {
    static test::TemporaryFolder folder;
    static std::array<std::filesystem::path, kSlots.size()> made;
    auto& path = made[std::size_t(slot)];
    if (path.empty()) {
        const SlotLook& look = kSlots[std::size_t(slot)];
        const auto seconds = std::to_string(look.seconds);
        path = folder.path() / ("slot" + std::to_string(slot) + ".mp4");
        const auto result =
            test::runProcess({"ffmpeg",
                              "-nostdin",
                              "-v",
                              "error",
                              "-y",
                              "-f",
                              "lavfi",
                              "-i",
                              "color=c=" + QColor(look.colour).name().toStdString() +
                                  ":size=160x120:rate=25:duration=" + seconds,
                              "-f",
                              "lavfi",
                              "-i",
                              "sine=frequency=" + std::to_string(int(look.tone)) +
                                  ":sample_rate=48000:duration=" + seconds,
                              "-c:v",
                              "libx264",
                              "-pix_fmt",
                              "yuv420p",
                              "-g",
                              "5",
                              "-c:a",
                              "aac",
                              "-ac",
                              "2",
                              "-shortest",
                              path.string()},
                             std::chrono::seconds(60));
        EXPECT_TRUE(result.succeeded()) << result.errorOutput;
    }
    return path;
}

enum class State { nothing, playing, paused, stoodBy, dissolving, looping, frozen, stopped };
enum class Action { play, pause, resume, standby, seek, stop };
// What is heard after the action: the slot's tone, nothing, or either (never another's).
enum class Heard { tone, silence, ownOrSilence };

struct Case {
    State state;
    Action action;
    std::optional<int> slot;  // the slot on air afterwards; none: black
    Heard heard;
};

std::string stateName(State state) {
    constexpr const char* names[] = {"Nothing",    "Playing", "Paused", "StoodBy",
                                     "Dissolving", "Looping", "Frozen", "Stopped"};
    return names[int(state)];
}
std::string actionName(Action action) {
    constexpr const char* names[] = {"Play", "Pause", "Resume", "Standby", "Seek", "Stop"};
    return names[int(action)];
}

class TransportOnAir : public ::testing::TestWithParam<Case>, protected test::RealClipRig {
  protected:
    TransportOnAir() : RealClipRig(true) {
        project = test::makeProject(1, 1, int(kSlots.size()));
        for (std::size_t i = 0; i < kSlots.size(); ++i) {
            auto& slot = project.banks[0].slots[i];
            slot.videoURL = clipOf(int(i));
            slot.clipInfo->duration = kSlots[i].seconds;
            slot.clipInfo->fps = 25.0;
            slot.postRollMode = int(i) == kLoopSlot ? PostRollMode::loop : PostRollMode::freeze;
        }
    }

    SlotData record(int slot) const { return project.banks[0].slots[std::size_t(slot)]; }
    void fire(int slot, bool dissolve = false) {
        SlotData data = record(slot);
        if (dissolve) {
            data.transitionMode = TransitionMode::dissolve;
            data.dissolveDuration = 0.4;
        }
        controller->play(0, slot, *data.videoURL, data, {320.0, 180.0});
    }
    void steps(double seconds) {
        for (int i = 0; i < int(std::lround(seconds / kStep)); ++i) {
            step();
        }
    }
    // Steps until `slot` is on air and running, then a little more.
    void settleOn(int slot) {
        for (int i = 0; i < 300; ++i) {
            const auto& onAir = controller->view().foreground();
            if (onAir && onAir->ref.slot == slot &&
                controller->view().showingSlot().clipPlayer().startTime().get()) {
                break;
            }
            step();
        }
        steps(0.2);
    }

    void reach(State state) {
        if (state == State::nothing) {
            return;
        }
        // Both slots' players have started a clip before each state.
        fire(0);
        settleOn(0);
        switch (state) {
            case State::looping:
                fire(kLoopSlot);
                settleOn(kLoopSlot);
                return;
            case State::dissolving:
                fire(1, true);
                for (int i = 0; i < 300 && !(controller->view().foreground() &&
                                             controller->view().foreground()->ref.slot == 1);
                     ++i) {
                    step();
                }
                steps(0.15);
                return;
            default:
                break;
        }
        fire(1);
        settleOn(1);
        switch (state) {
            case State::paused:
                controller->pause();
                break;
            case State::stoodBy: {
                const SlotData data = record(2);
                controller->standby(0, 2, *data.videoURL, data, {320.0, 180.0});
                steps(0.6);
                break;
            }
            case State::frozen:
                steps(kSlots[1].seconds);
                break;
            case State::stopped:
                controller->handlePostRoll(PostRollMode::black);
                break;
            default:
                break;
        }
    }

    void act(Action action) {
        switch (action) {
            case Action::play:
                fire(kNamed);
                break;
            case Action::pause:
                controller->pause();
                break;
            case Action::resume:
                controller->resume();
                break;
            case Action::standby: {
                const SlotData data = record(kNamed);
                controller->standby(0, kNamed, *data.videoURL, data, {320.0, 180.0});
                break;
            }
            case Action::seek:
                controller->seek(0.5);
                break;
            case Action::stop:
                controller->handlePostRoll(PostRollMode::black);
                break;
        }
    }

    // The slot whose colour the composed output shows; -1 for black, -2 for anything else.
    int composedSlot() {
        const QImage frame =
            compositor.render(*controller->view().rootLayer(), loop.now(), QSize(320, 180));
        const QColor seen = frame.pixelColor(160, 90);
        if (seen.red() < 40 && seen.green() < 40 && seen.blue() < 40) {
            return -1;
        }
        for (std::size_t i = 0; i < kSlots.size(); ++i) {
            const QColor want(kSlots[i].colour);
            if (std::abs(seen.red() - want.red()) + std::abs(seen.green() - want.green()) +
                    std::abs(seen.blue() - want.blue()) <
                90) {
                return int(i);
            }
        }
        return -2;
    }

    platform::Compositor compositor;
};

TEST_P(TransportOnAir, OutputSoundAndPanelBelongToTheSlotTheActionNames) {
    const Case& c = GetParam();
    reach(c.state);
    act(c.action);
    steps(0.8);
    const std::size_t from = device->captured().empty() ? 0 : device->channel(0).size();
    steps(0.3);
    const auto heard = std::span<const float>(device->channel(0)).subspan(from);

    EXPECT_EQ(composedSlot(), c.slot.value_or(-1)) << "the output shows another slot";
    for (std::size_t i = 0; i < kSlots.size(); ++i) {
        const double level = test::toneAmplitude(heard, kRate, kSlots[i].tone);
        const bool own = c.slot && int(i) == *c.slot;
        if (own && c.heard == Heard::tone) {
            EXPECT_GT(level, 0.03) << "the slot on air is not heard";
        } else if (!own || c.heard == Heard::silence) {
            EXPECT_LT(level, 0.01) << "slot " << i << "'s tone is heard";
        }
    }
    EXPECT_EQ(controller->currentSlotIndex.get(), c.slot) << "the panel names another slot";
    if (c.slot) {
        EXPECT_NEAR(controller->duration.get(), kSlots[std::size_t(*c.slot)].seconds, 0.1)
            << "the panel shows another clip's length";
    }
}

// The states and what is on air in each (none: black) and heard.
struct StateFacts {
    State state;
    std::optional<int> onAir;
    bool running;
};
constexpr StateFacts kStates[] = {{State::nothing, std::nullopt, false},
                                  {State::playing, 1, true},
                                  {State::paused, 1, false},
                                  {State::stoodBy, 2, false},
                                  {State::dissolving, 1, true},
                                  {State::looping, kLoopSlot, true},
                                  {State::frozen, 1, false},
                                  {State::stopped, std::nullopt, false}};

std::vector<Case> everyActionInEveryState() {
    std::vector<Case> cases;
    for (const auto& s : kStates) {
        const Heard own = s.running ? Heard::tone : Heard::silence;
        const Heard resumed = !s.onAir                   ? Heard::silence
                              : s.state == State::frozen ? Heard::ownOrSilence
                                                         : Heard::tone;
        cases.push_back({s.state, Action::play, kNamed, Heard::tone});
        cases.push_back({s.state, Action::pause, s.onAir, Heard::silence});
        cases.push_back({s.state, Action::resume, s.onAir, resumed});
        cases.push_back({s.state, Action::standby, kNamed, Heard::silence});
        cases.push_back({s.state, Action::seek, s.onAir, own});
        cases.push_back({s.state, Action::stop, std::nullopt, Heard::silence});
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(EveryActionInEveryState, TransportOnAir,
                         ::testing::ValuesIn(everyActionInEveryState()),
                         [](const ::testing::TestParamInfo<Case>& param) {
                             return actionName(param.param.action) + "When" +
                                    stateName(param.param.state);
                         });

}  // namespace
}  // namespace kestio
