// The sound server's sink latency, read on a private server: asked rarely once its mean has
// settled, and following the sink within a second when a stream joins it.

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

// Looks every millisecond until `done` holds: the moment it did, or nothing after 20 s. (The
// server runs in real time: there is no clock to drive.)
std::optional<Clock::time_point> when(const std::function<bool()>& done) {
    const auto guard = Clock::now() + std::chrono::seconds(20);
    while (!done()) {
        if (Clock::now() > guard) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return Clock::now();
}

double secondsSince(Clock::time_point from) {
    return std::chrono::duration<double>(Clock::now() - from).count();
}

class PulseSinkLatencyOnPulse : public PulseServerSuite {};

// A stream asking for a short latency joins the sink while the probe asks rarely: the sink's
// latency falls from the keeper's sawtooth (up to about 30 ms) to about a millisecond, within
// the range of answers already seen. The server tells of the new stream, and the mean follows
// within a second, not after the seconds a window of rare answers would take to wash out.
TEST_F(PulseSinkLatencyOnPulse, AsksRarelyOnceSettledAndFollowsAStreamThatJoinsWithinASecond) {
    PulseSinkLatency latency;
    latency.follow("");
    // Settled: ten questions take 0.9 s or more (at the quick pace, 0.3 s at most).
    auto from = Clock::now();
    uint64_t fromCount = 0;
    ASSERT_TRUE(when([&] {
        if (latency.questionsAsked() < fromCount + 10) {
            return false;
        }
        const bool rare = secondsSince(from) >= 0.9;
        from = Clock::now();
        fromCount = latency.questionsAsked();
        return rare;
    })) << "the mean never settled";
    ASSERT_TRUE(latency.seconds());
    RecordProperty("before_us", std::to_string(std::lround(*latency.seconds() * 1e6)));
    ASSERT_GT(*latency.seconds(), 0.005) << "the keeper alone should hold the latency higher";

    const auto joined = Clock::now();
    BackgroundProcess stream({"pacat", "--latency-msec=5", "--rate=48000", "--channels=2",
                              "--format=s16le", "--stream-name=short", "/dev/zero"});
    ASSERT_TRUE(stream.started()) << stream.failure();
    ASSERT_TRUE(when([&] { return latency.seconds() && *latency.seconds() < 0.003; }))
        << "the mean stayed at " << latency.seconds().value_or(-1.0);
    RecordProperty("followed_after_ms", std::to_string(std::lround(secondsSince(joined) * 1e3)));
    EXPECT_LT(secondsSince(joined), 1.0);
    // Once a full window of answers came after the stream joined, no answer of the keeper's
    // sawtooth is left in the mean, and it agrees with what pactl reads now.
    const uint64_t followedAt = latency.questionsAsked();
    ASSERT_TRUE(when([&] {
        return latency.questionsAsked() >=
               followedAt + platform::audio::SinkLatencyWindow::kCapacity;
    }));
    const auto server = server_->meanSinkLatency(20);
    ASSERT_TRUE(server && latency.seconds());
    EXPECT_NEAR(*latency.seconds(), *server, 0.0015);
}

}  // namespace
}  // namespace kestio::test
