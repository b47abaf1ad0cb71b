// The window of a sink's latency answers, fed in virtual time by a simulated sink whose latency
// is a sawtooth, at the pace the window asks for: it settles only on steady answers, and no
// answer from before a change lingers in its mean for long.

#include "platform/audio/sink_latency_window.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace kestio::test {
namespace {

using platform::audio::SinkLatencyWindow;

// A sink's latency over time: a sawtooth from `low` to `high` repeating every 23 ms.
struct Sawtooth {
    double low = 0.0;
    double high = 0.0;
    double at(double t) const {
        const double phase = std::fmod(t / 0.023, 1.0);
        return high - (high - low) * phase;
    }
    double mean() const { return (low + high) / 2.0; }
};

// Asks a simulated sink at the pace the window wants, at uneven intervals within its span.
class Asker {
  public:
    explicit Asker(SinkLatencyWindow& window) : window_(window) {}

    // Asks until `until`, the latency at each moment given by `latency`; calls `each` after
    // every answer.
    void run(double until, const std::function<double(double)>& latency,
             const std::function<void()>& each = {}) {
        while (now_ < until) {
            window_.take(latency(now_), now_);
            if (each) {
                each();
            }
            const auto span = window_.askSpan();
            now_ += span.shortest + (span.longest - span.shortest) * uniform();
        }
    }
    double now() const { return now_; }

  private:
    double uniform() {
        random_ ^= random_ << 13;
        random_ ^= random_ >> 7;
        random_ ^= random_ << 17;
        return double(random_ % 10007) / 10006.0;
    }

    SinkLatencyWindow& window_;
    double now_ = 100.0;
    uint64_t random_ = 0x2545f4914f6cdd1dull;
};

// The sink's start-up: its latency comes down from far ahead at the pace of time, then holds.
// The window settles only once the answers from the way down have left it, so its settled mean
// is the steady one (a window filled on the way down once kept them for seconds).
TEST(SinkLatencyWindow, DoesNotSettleWhileTheLatencyComesDown) {
    SinkLatencyWindow window;
    Asker asker(window);
    const Sawtooth steady{0.001, 0.006};
    const auto latency = [&](double t) {
        return std::max(steady.at(t), 2.0 - (t - 100.0));  // down from 2 s, steady after 102 s
    };
    double worstSettledError = 0.0;
    double firstSettled = 0.0;
    asker.run(110.0, latency, [&] {
        if (window.settled()) {
            firstSettled = firstSettled == 0.0 ? asker.now() : firstSettled;
            worstSettledError =
                std::max(worstSettledError, std::abs(*window.mean() - steady.mean()));
        }
    });
    EXPECT_GT(firstSettled, 102.0 + SinkLatencyWindow::kSteadySeconds - 0.01);
    EXPECT_LT(firstSettled, 104.0);
    EXPECT_LT(worstSettledError, 0.001);

    // Told that something may move the latency, it asks often again for a while; answers
    // older than the oldest counted no longer count; another sink starts from nothing.
    window.unsettle(asker.now());
    EXPECT_FALSE(window.settled());
    window.take(0.050, asker.now() + SinkLatencyWindow::kOldestSeconds + 0.5);
    EXPECT_DOUBLE_EQ(window.mean().value_or(0.0), 0.050);
    window.clear();
    EXPECT_FALSE(window.mean());
}

// Once settled and asked rarely, a change of the sink's latency sends the window back to the
// quick pace and its mean follows, whichever way the sawtooth moves: up out of the range seen
// (within a second), or down within it, as when a stream asking for less latency joins, or by
// half its height (only the mean of the latest answers shows those, so it takes a few more).
TEST(SinkLatencyWindow, FollowsAChangeOfTheSink) {
    struct Case {
        const char* name;
        Sawtooth before;
        Sawtooth after;
        double withinSeconds;
    };
    const Case cases[] = {
        {"up out of the range", {0.001, 0.006}, {0.020, 0.025}, 1.0},
        {"a flat latency that steps", {0.010, 0.010}, {0.012, 0.012}, 1.0},
        {"down within the range", {0.0, 0.030}, {0.0, 0.005}, 2.5},
        {"a shift of half its height", {0.002, 0.012}, {0.007, 0.017}, 2.5},
    };
    for (const auto& c : cases) {
        SinkLatencyWindow window;
        Asker asker(window);
        asker.run(105.0, [&](double t) { return c.before.at(t); });
        ASSERT_TRUE(window.settled()) << c.name;
        const double changed = asker.now();
        std::optional<double> followedAt;
        // Followed: within a tenth of the change, or of a millisecond.
        const double bound = std::max(0.001, 0.1 * std::abs(c.after.mean() - c.before.mean()));
        asker.run(
            changed + 6.0, [&](double t) { return c.after.at(t); },
            [&] {
                if (std::abs(*window.mean() - c.after.mean()) < bound && !followedAt) {
                    followedAt = asker.now();
                }
            });
        ASSERT_TRUE(followedAt) << c.name << ": the mean never followed";
        RecordProperty(std::string(c.name), std::to_string(*followedAt - changed));
        EXPECT_LT(*followedAt - changed, c.withinSeconds) << c.name;
        // And it settles again on the new latency.
        EXPECT_TRUE(window.settled()) << c.name;
        EXPECT_NEAR(*window.mean(), c.after.mean(), 0.1 * (c.after.high - c.after.low) + 0.0005)
            << c.name;
    }
}

// A steady sink, asked rarely for ten minutes: the sawtooth alone seldom sends the window
// back to the quick pace, and its mean stays about as close to the sink's as that of a full
// window at the quick pace (the spread of the mean of n answers of an even sawtooth of height
// h is h / sqrt(12 n): 0.051 h for 32; here about 25 answers of the last 5 s count).
TEST(SinkLatencyWindow, StaysSettledOnASteadySawtooth) {
    for (const Sawtooth sink :
         {Sawtooth{0.0, 0.005}, Sawtooth{0.0, 0.030}, Sawtooth{0.004, 0.004}}) {
        SinkLatencyWindow window;
        Asker asker(window);
        asker.run(103.0, [&](double t) { return sink.at(t); });
        ASSERT_TRUE(window.settled());
        double quickSeconds = 0.0;  // time spent at the quick pace
        double last = asker.now();
        bool wasSettled = true;
        double squares = 0.0;
        int answers = 0;
        asker.run(
            703.0, [&](double t) { return sink.at(t); },
            [&] {
                quickSeconds += wasSettled ? 0.0 : asker.now() - last;
                last = asker.now();
                wasSettled = window.settled();
                squares += std::pow(*window.mean() - sink.mean(), 2.0);
                ++answers;
            });
        const double rmsError = std::sqrt(squares / answers);
        RecordProperty("rms_error_share_" + std::to_string(sink.high),
                       std::to_string(rmsError / std::max(sink.high - sink.low, 1e-9)));
        RecordProperty("quick_share_" + std::to_string(sink.high),
                       std::to_string(quickSeconds / 600.0));
        EXPECT_LT(quickSeconds / 600.0, 0.05) << sink.high;
        EXPECT_LT(rmsError, (sink.high - sink.low) / std::sqrt(12.0 * 20.0) + 1e-9) << sink.high;
    }
}

}  // namespace
}  // namespace kestio::test
