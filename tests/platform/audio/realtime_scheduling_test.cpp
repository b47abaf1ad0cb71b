#include "platform/audio/realtime_scheduling.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio/render_helper_pool.h"
#include "sound_thread_policy.h"

namespace kestio::test {
namespace {

using platform::audio::kSoundThreadPriority;
using platform::audio::RenderHelperPool;
using platform::audio::scheduleCallingThreadInRealTime;

// What a thread asking for `priority` got: the answer, and its policy and priority after.
struct Asked {
    std::string refused;
    int policy = -1;
    int priority = -1;
    // The policy of a process forked from the thread afterwards.
    int childPolicy = -1;
};

Asked askOnANewThread(int priority) {
    Asked asked;
    std::thread([&] {
        asked.refused = scheduleCallingThreadInRealTime(priority);
        asked.policy = sched_getscheduler(0) & ~SCHED_RESET_ON_FORK;
        sched_param param{};
        sched_getparam(0, &param);
        asked.priority = param.sched_priority;
        const pid_t child = fork();
        if (child == 0) {
            _exit(sched_getscheduler(0) & ~SCHED_RESET_ON_FORK);
        }
        int status = 0;
        if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status)) {
            asked.childPolicy = WEXITSTATUS(status);
        }
    }).join();
    return asked;
}

TEST(RealTimeScheduling, ASoundThreadRunsFirstWhereAllowedAndWhatItForksDoesNot) {
    const Asked asked = askOnANewThread(kSoundThreadPriority);
    if (!asked.refused.empty()) {
        EXPECT_EQ(asked.policy, SCHED_OTHER) << "refused, yet the policy changed";
        GTEST_SKIP() << asked.refused;
    }
    EXPECT_EQ(asked.policy, SCHED_FIFO);
    EXPECT_EQ(asked.priority, kSoundThreadPriority);
    EXPECT_EQ(asked.childPolicy, SCHED_OTHER) << "a forked process kept the real-time policy";
}

// Priorities the policy has no room for are refused with a reason, and change nothing.
TEST(RealTimeScheduling, ARefusalSaysWhyAndLeavesTheThreadAsItWas) {
    for (const int priority : {0, -3, sched_get_priority_max(SCHED_FIFO) + 1}) {
        const Asked asked = askOnANewThread(priority);
        EXPECT_FALSE(asked.refused.empty()) << priority;
        EXPECT_EQ(asked.policy, SCHED_OTHER) << priority;
    }
}

// The render helpers are scheduled as the thread that renders: real-time while it is, ordinary
// once it steps down, within a look's worth of blocks.
TEST(RealTimeScheduling, RenderHelpersFollowTheSchedulingOfTheThreadTheyHelp) {
    if (const std::string refused = soundThreadsMayRunInRealTime(); !refused.empty()) {
        GTEST_SKIP() << refused;
    }
    struct Policies {
        std::atomic<int> seen[2] = {-1, -1};
        static void hook(void* context, uint32_t helper) noexcept {
            static_cast<Policies*>(context)->seen[helper] =
                sched_getscheduler(0) & ~SCHED_RESET_ON_FORK;
        }
    } policies;
    auto nothing = [](void*, uint32_t) noexcept {};
    std::vector<std::pair<int, int>> seen;  // each helper's policy after each stretch
    std::thread([&] {
        RenderHelperPool pool(2, &Policies::hook, &policies);
        // Blocks until each helper has woken since the caller's scheduling changed.
        const auto blocks = [&] {
            for (uint32_t n = 0; n < RenderHelperPool::kBlocksPerLook; ++n) {
                pool.run(3, nothing, nullptr);
            }
            policies.seen[0] = -1;
            policies.seen[1] = -1;
            while (policies.seen[0] == -1 || policies.seen[1] == -1) {
                pool.run(3, nothing, nullptr);
                std::this_thread::yield();
            }
            seen.emplace_back(policies.seen[0].load(), policies.seen[1].load());
        };
        blocks();
        scheduleCallingThreadInRealTime();
        blocks();
        platform::audio::scheduleCallingThreadOrdinarily();
        blocks();
    }).join();
    const std::vector<std::pair<int, int>> expected = {
        {SCHED_OTHER, SCHED_OTHER}, {SCHED_FIFO, SCHED_FIFO}, {SCHED_OTHER, SCHED_OTHER}};
    EXPECT_EQ(seen, expected) << "ordinary, then real-time, then ordinary again";
}

// The watch over a sound thread's work, driven with made-up times: each look comes a quarter
// of a second after the last, with the thread working `duty` of that quarter.
TEST(RealTimeDutyWatch, StepsDownAThreadThatWorksNearlyAllTheTimeAndBackOnceItEases) {
    using platform::audio::RealTimeDutyWatch;
    using Step = RealTimeDutyWatch::Step;
    struct Stretch {
        const char* what;
        double duty;
        int looks;
        // The step the last look of the stretch gives (every earlier one: Stay).
        Step last;
    };
    const std::vector<Stretch> script = {
        {"rendering as a show does", 0.5, 12, Step::Stay},
        {"a short burst inside a window of ordinary work", 1.0, 1, Step::Stay},
        {"the rest of that window", 0.4, 3, Step::Stay},
        {"nearly all the time, for a window", 0.9, 4, Step::StepDown},
        {"still busy, stepped down", 0.95, 8, Step::Stay},
        {"eased for four windows", 0.2, 16, Step::Stay},
        {"one window busy again", 0.7, 4, Step::Stay},
        {"eased for five windows", 0.2, 20, Step::StepUp},
        {"back at work at real-time", 0.6, 8, Step::Stay},
    };
    RealTimeDutyWatch watch;
    bool realTime = true;
    double wall = 100.0;
    double cpu = 3.0;
    ASSERT_EQ(watch.look(wall, cpu, realTime), Step::Stay);
    for (const Stretch& stretch : script) {
        for (int n = 1; n <= stretch.looks; ++n) {
            wall += 0.25;
            cpu += 0.25 * stretch.duty;
            const Step step = watch.look(wall, cpu, realTime);
            EXPECT_EQ(step, n == stretch.looks ? stretch.last : Step::Stay)
                << stretch.what << ", look " << n;
            if (step == Step::StepDown) {
                realTime = false;
            } else if (step == Step::StepUp) {
                realTime = true;
            }
        }
    }
}

}  // namespace
}  // namespace kestio::test
