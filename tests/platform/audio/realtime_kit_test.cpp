// Real-time sound threads for an ordinary user: a process that may not schedule its sound
// threads itself asks RealtimeKit on the system bus, and says on its console what came of it.

#include <linux/capability.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio/pulse_audio_device.h"
#include "platform/audio/realtime_scheduling.h"
#include "platform/runloop/console.h"
#include "platform/runloop/host_clock.h"
#include "platform/runloop/manual_run_loop.h"
#include "sound_thread_policy.h"
#include "support/fake_realtime_kit.h"
#include "support/required_server.h"

namespace kestio::test {
namespace {

using platform::Console;
using platform::audio::askForRealTime;
using platform::audio::kSoundThreadPriority;
using platform::audio::PulseAudioDevice;

// Runs `body` on a thread of its own as an ordinary user's thread: without CAP_SYS_NICE (a
// thread's capabilities are its own, and the threads it starts inherit them) and, for the
// while, under a real-time priority limit of 0.
void runAsAnOrdinaryUser(const std::function<void()>& body) {
    rlimit priorityLimit{};
    getrlimit(RLIMIT_RTPRIO, &priorityLimit);
    const rlimit none{0, priorityLimit.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_RTPRIO, &none), 0);
    std::thread([&] {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct capabilities[2]{};
        if (syscall(SYS_capget, &header, capabilities) == 0) {
            capabilities[CAP_SYS_NICE / 32].effective &= ~(1u << (CAP_SYS_NICE % 32));
            capabilities[CAP_SYS_NICE / 32].permitted &= ~(1u << (CAP_SYS_NICE % 32));
            syscall(SYS_capset, &header, capabilities);
        }
        body();
    }).join();
    setrlimit(RLIMIT_RTPRIO, &priorityLimit);
}

// The sound output of an ordinary user's process: the console lines of its start, and its
// render thread's policy once the console said `awaited`.
struct Started {
    std::vector<std::string> lines;
    int policy = -1;
};
Started startAnOutput(const std::string& awaited) {
    Started started;
    runAsAnOrdinaryUser([&] {
        Console::Capture console;
        platform::ManualRunLoop loop;
        auto device =
            std::make_shared<PulseAudioDevice>(loop, std::make_shared<platform::SteadyHostClock>());
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!console.contains(awaited) && std::chrono::steady_clock::now() < deadline) {
            loop.waitForPosted(0.05);
            loop.runPending();
        }
        started.policy = policyOfThreadNamed("audio output");
        device.reset();
        started.lines = console.lines();
    });
    return started;
}

long linesWith(const std::vector<std::string>& lines, const std::string& fragment) {
    return std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
        return line.find(fragment) != std::string::npos;
    });
}

class RealtimeKitOnABus : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!bus_.failure().empty()) {
            return serverCannotStart("a private system bus", bus_.failure());
        }
    }
    PrivateSystemBus bus_;
};

// A thread that may not schedule itself asks RealtimeKit, with its real-time CPU time limited
// as RealtimeKit requires, and runs under the round-robin policy it grants; so does the sound
// output's render thread, which says so on the console.
TEST_F(RealtimeKitOnABus, GrantsAThreadThatMayNotScheduleItselfRealTime) {
    if (const std::string refused = soundThreadsMayRunInRealTime(); !refused.empty()) {
        GTEST_SKIP() << "RealtimeKit cannot grant here either: " << refused;
    }
    ASSERT_TRUE(bus_.serveRealtimeKit()) << bus_.failure();
    platform::audio::RealTimeAnswer answer;
    int policy = -1;
    int priority = -1;
    pid_t thread = 0;
    runAsAnOrdinaryUser([&] {
        thread = gettid();
        answer = askForRealTime();
        policy = sched_getscheduler(0) & ~SCHED_RESET_ON_FORK;
        priority = platform::audio::realTimePriorityOfCallingThread();
    });
    EXPECT_EQ(answer.refused, "");
    EXPECT_TRUE(answer.byRealtimeKit);
    EXPECT_EQ(policy, SCHED_RR);
    EXPECT_EQ(priority, kSoundThreadPriority);
    const auto questions = bus_.questions();
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_EQ(questions[0].process, uint64_t(getpid()));
    EXPECT_EQ(questions[0].thread, uint64_t(thread));
    EXPECT_EQ(questions[0].priority, uint32_t(kSoundThreadPriority));
    EXPECT_LE(questions[0].realTimeLimit, PrivateSystemBus::kRealTimeMicros);

    const Started started = startAnOutput("RealtimeKit granted its thread");
    EXPECT_EQ(started.policy, SCHED_RR);
    EXPECT_EQ(linesWith(started.lines, "RealtimeKit granted its thread real-time priority"), 1)
        << testing::PrintToString(started.lines);
    EXPECT_EQ(linesWith(started.lines, "runs at ordinary priority"), 0);
}

// Without RealtimeKit on the bus the output runs at ordinary priority and says why, once.
TEST_F(RealtimeKitOnABus, WithoutItTheOutputSaysOnceThatItRunsAtOrdinaryPriority) {
    const Started started = startAnOutput("runs at ordinary priority");
    EXPECT_EQ(started.policy, SCHED_OTHER);
    EXPECT_EQ(linesWith(started.lines, "runs at ordinary priority"), 1)
        << testing::PrintToString(started.lines);
    EXPECT_EQ(linesWith(started.lines, "RealtimeKit is not there"), 1)
        << testing::PrintToString(started.lines);
    EXPECT_EQ(linesWith(started.lines, "granted"), 0);
}

}  // namespace
}  // namespace kestio::test
