#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace kestio::platform::audio {

// The answers a sound server gave about one sink's latency, their mean, and whether that mean
// is settled enough to ask less often. A timer-driven sink's latency is a sawtooth, so a single
// answer says little; the mean of the last answers is what the output adds to its own buffer.
//
// The window is unsettled (ask often) until it holds a full count of answers and its mean has
// stayed within a tolerance for a while, so that answers taken while the sink was still
// starting up, or before a change, have washed out first. Once settled it stays so only while
// the answers still fit it: an answer outside the range the window has seen, or a mean of the
// latest answers away from the settled one, or a mean that moves, unsettles it again, and so
// does anything the caller knows may move the latency (unsettle()). Answers older than a few
// seconds are dropped whatever the pace, so none lingers long.
//
// A plain value: times are the caller's monotonic seconds; one thread at a time.
class SinkLatencyWindow {
  public:
    static constexpr int kCapacity = 32;
    // Answers older than this are no longer counted.
    static constexpr double kOldestSeconds = 5.0;
    // How long the mean must stay within its tolerance, after a full window of answers, before
    // the window settles: longer than a full window takes at the quick pace.
    static constexpr double kSteadySeconds = 1.0;
    // How many of the latest answers are checked together against the settled mean.
    static constexpr int kRecent = 8;

    // Takes an answer of `latency` seconds that came at `at`.
    void take(double latency, double at);
    // Something that may move the latency happened at `at` (a stream started or moved, the
    // sink changed, the output ran dry): back to the quick pace until it settles again.
    void unsettle(double at);
    // Forgets every answer (another sink is followed).
    void clear();

    // The mean of the answers counted, or nothing before the first.
    std::optional<double> mean() const;
    bool settled() const { return settled_; }

    // How long to wait before the next question, in seconds: a span to pick from at random (so
    // that the answers do not sample a sawtooth at one phase), short until the window settles.
    struct AskSpan {
        double shortest;
        double longest;
    };
    static constexpr AskSpan kQuickAsks{0.010, 0.030};
    static constexpr AskSpan kSettledAsks{0.100, 0.300};
    AskSpan askSpan() const { return settled_ ? kSettledAsks : kQuickAsks; }

  private:
    struct Answer {
        double latency = 0.0;
        double at = 0.0;
    };
    struct Summary {
        int count = 0;
        double mean = 0.0;
        double lowest = 0.0;
        double highest = 0.0;
        double recentMean = 0.0;  // of the latest kRecent answers (or fewer)
    };
    // The answers no older than kOldestSeconds before `now`, newest last.
    Summary summarize(double now) const;
    // How far a mean may move before it counts as moved: `share` of the range the answers of
    // `summary` span.
    static double tolerance(const Summary& summary, double share);
    void restartSteadiness(double mean, double at);

    std::array<Answer, kCapacity> answers_{};
    int count_ = 0;  // answers held, at most kCapacity
    int next_ = 0;   // where the next answer goes
    std::optional<double> mean_;
    bool settled_ = false;
    double reference_ = 0.0;  // the mean the steadiness is judged against
    double steadySince_ = 0.0;
    int answersSinceSteady_ = 0;
};

}  // namespace kestio::platform::audio
