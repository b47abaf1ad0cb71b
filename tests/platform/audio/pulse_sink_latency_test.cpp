// The sound server's sink latency, read on a private server: asked often until the mean has
// settled, then far less often, and back at the quick pace as soon as the sink changes.

#include "platform/audio/pulse_sink_latency.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <optional>
#include <thread>

#include "pulse_server.h"
#include "support/process_runner.h"

namespace kestio::test {
namespace {

using platform::audio::PulseSinkLatency;
using Clock = std::chrono::steady_clock;

double secondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

class PulseSinkLatencyOnPulse : public PulseServerSuite {
  protected:
    // Looks every millisecond until `done` holds; the moment it did, or nothing after
    // `wallSeconds`. (The server runs in real time: there is no clock to drive.)
    static std::optional<Clock::time_point> when(const std::function<bool()>& done,
                                                 double wallSeconds = 30.0) {
        const auto guard = Clock::now() + std::chrono::milliseconds(int64_t(wallSeconds * 1000));
        while (!done()) {
            if (Clock::now() > guard) {
                return std::nullopt;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return Clock::now();
    }

    // How long the next `count` questions take.
    static std::optional<double> secondsForQuestions(const PulseSinkLatency& latency, int count) {
        const auto from = when(
            [&, start = latency.questionsAsked()] { return latency.questionsAsked() > start; });
        if (!from) {
            return std::nullopt;
        }
        const auto to = when([&, start = latency.questionsAsked()] {
            return latency.questionsAsked() >= start + uint64_t(count);
        });
        if (!to) {
            return std::nullopt;
        }
        return secondsBetween(*from, *to);
    }

    // Waits until ten questions take 0.9 s or more: at the quick pace they take 0.3 s at most.
    static bool settled(const PulseSinkLatency& latency) {
        return bool(when(
            [&] {
                const auto seconds = secondsForQuestions(latency, 10);
                return seconds && *seconds >= 0.9;
            },
            20.0));
    }
};

TEST_F(PulseSinkLatencyOnPulse, AsksOftenUntilItsMeanSettlesThenRarely) {
    PulseSinkLatency latency;
    latency.follow("");
    // Fifty questions at the quick pace take 1.5 s at most; the mean cannot settle in less
    // than a second.
    const auto fifty = secondsForQuestions(latency, 50);
    ASSERT_TRUE(fifty) << "the server was never asked";
    EXPECT_LT(*fifty, 1.5 * 1.5);
    ASSERT_TRUE(latency.seconds()) << "no answer came";
    EXPECT_GT(*latency.seconds(), 0.0);
    ASSERT_TRUE(settled(latency)) << "the mean never settled";

    // Another sink starts a window of its own, asked as often again: one that does not exist
    // never gives an answer, so its questions keep the quick pace.
    latency.follow("no-such-sink");
    const auto ten = secondsForQuestions(latency, 10);
    ASSERT_TRUE(ten);
    EXPECT_LT(*ten, 0.9);
    EXPECT_FALSE(latency.seconds());
}

// A stream asking for a short latency joins the sink while the probe asks rarely: the sink's
// latency falls from the keeper's sawtooth (up to about 30 ms) to about a millisecond, within
// the range of answers already seen. The server tells of the new stream, and the mean follows
// within a second, not after the seconds a window of rare answers would take to wash out.
TEST_F(PulseSinkLatencyOnPulse, FollowsAStreamThatJoinsTheSinkWithinASecond) {
    PulseSinkLatency latency;
    latency.follow("");
    ASSERT_TRUE(settled(latency)) << "the mean never settled";
    ASSERT_TRUE(latency.seconds());
    const double before = *latency.seconds();
    RecordProperty("before_us", std::to_string(std::lround(before * 1e6)));
    ASSERT_GT(before, 0.005) << "the keeper alone should hold the sink's latency higher";

    const auto joined = Clock::now();
    BackgroundProcess stream({"pacat", "--latency-msec=5", "--rate=48000", "--channels=2",
                              "--format=s16le", "--stream-name=short", "/dev/zero"});
    ASSERT_TRUE(stream.started()) << stream.failure();
    const auto followed = when([&] { return latency.seconds() && *latency.seconds() < 0.003; });
    ASSERT_TRUE(followed) << "the mean stayed at " << latency.seconds().value_or(-1.0);
    RecordProperty("followed_after_ms",
                   std::to_string(std::lround(secondsBetween(joined, *followed) * 1e3)));
    EXPECT_LT(secondsBetween(joined, *followed), 1.0);
    // And it agrees with what pactl reads now.
    const auto server = server_->meanSinkLatency(20);
    ASSERT_TRUE(server);
    ASSERT_TRUE(latency.seconds());
    EXPECT_NEAR(*latency.seconds(), *server, 0.0015);
    stream.stop();
}

}  // namespace
}  // namespace kestio::test
