// A deferred step of a play runs only while that play is in force.

#include <gtest/gtest.h>

#include <memory>

#include "playback/play.h"

namespace kestio {
namespace {

enum class Then { nothing, ended, gone };

struct StepCase {
    Then then;
    bool runs;
};

class PlayStep : public ::testing::TestWithParam<StepCase> {};

TEST_P(PlayStep, RunsOnlyForThePlayInForce) {
    auto play = std::make_shared<Play>();
    play->ref = SlotRef{1, 2};
    int ran = 0;
    SlotRef seen;
    double argument = 0.0;
    auto plain = stepOf(*play, [&] { ++ran; });
    auto withPlay = stepOf(play, [&](Play& current, double value) {
        ++ran;
        seen = current.ref;
        argument = value;
    });
    if (GetParam().then == Then::ended) {
        play->ended = true;
    } else if (GetParam().then == Then::gone) {
        play.reset();
    }
    plain();
    withPlay(0.5);
    EXPECT_EQ(ran, GetParam().runs ? 2 : 0);
    if (GetParam().runs) {
        EXPECT_EQ(seen, (SlotRef{1, 2}));
        EXPECT_EQ(argument, 0.5);
    }
}

INSTANTIATE_TEST_SUITE_P(Plays, PlayStep,
                         ::testing::Values(StepCase{Then::nothing, true},
                                           StepCase{Then::ended, false},
                                           StepCase{Then::gone, false}));

// A step under way that begins a newer play keeps its own alive to its end and sees it ended.
TEST(PlayStepUnderWay, SeesItsPlayEndedByANewerOne) {
    auto inForceNow = std::make_shared<Play>();
    bool sawEnded = false;
    auto step = stepOf(*inForceNow, [&](Play& current) {
        inForceNow->ended = true;
        inForceNow = std::make_shared<Play>();
        sawEnded = current.ended && inForce(current.weak_from_this()) == nullptr;
    });
    step();
    EXPECT_TRUE(sawEnded);
}

}  // namespace
}  // namespace kestio
