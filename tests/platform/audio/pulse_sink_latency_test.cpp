// The sound server's sink latency, read on a private server: asked often until the mean rests
// on a full window of answers, then far less often.

#include "platform/audio/pulse_sink_latency.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "pulse_server.h"

namespace kestio::test {
namespace {

using platform::audio::PulseSinkLatency;
using Clock = std::chrono::steady_clock;

class PulseSinkLatencyOnPulse : public PulseServerSuite {
  protected:
    // Waits until `latency` has asked `count` questions; the moment it saw that, or none after
    // the guard.
    static std::optional<Clock::time_point> askedBy(const PulseSinkLatency& latency,
                                                    uint64_t count) {
        const auto guard = Clock::now() + std::chrono::seconds(30);
        while (latency.questionsAsked() < count) {
            if (Clock::now() > guard) {
                return std::nullopt;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return Clock::now();
    }
};

TEST_F(PulseSinkLatencyOnPulse, AsksOftenUntilItsWindowIsFullThenRarely) {
    PulseSinkLatency latency;
    latency.follow("");
    // The window holds 32 answers: by the 40th question it is full, whatever the load.
    const auto fortieth = askedBy(latency, 40);
    ASSERT_TRUE(fortieth) << "the server was never asked";
    ASSERT_TRUE(latency.seconds()) << "no answer came";
    EXPECT_GT(*latency.seconds(), 0.0);
    const auto fiftieth = askedBy(latency, 50);
    ASSERT_TRUE(fiftieth);
    // Ten questions at 100 ms or more each; at the first pace they would take 300 ms at most.
    EXPECT_GE(std::chrono::duration<double>(*fiftieth - *fortieth).count(), 0.9);

    // Another sink starts a window of its own, asked as often again: one that does not exist
    // never gives an answer, so its questions keep the first pace.
    latency.follow("no-such-sink");
    const auto from = askedBy(latency, latency.questionsAsked() + 1);
    ASSERT_TRUE(from);
    const auto to = askedBy(latency, latency.questionsAsked() + 10);
    ASSERT_TRUE(to);
    EXPECT_LT(std::chrono::duration<double>(*to - *from).count(), 0.9);
}

}  // namespace
}  // namespace kestio::test
