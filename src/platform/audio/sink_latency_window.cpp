#include "platform/audio/sink_latency_window.h"

#include <algorithm>
#include <cmath>

namespace kestio::platform::audio {

namespace {

// The window's mean may move by this share of the range its answers span (a sawtooth's
// height) before it counts as moved: about four times the spread of the difference of two
// means of a full window of an even sawtooth.
constexpr double kToleranceShare = 0.3;
// The mean of the latest kRecent answers may stray this share of the range from the settled
// mean: about three times the spread of that difference, so that the sawtooth alone seldom
// unsettles the window (a few times a minute would double what the slow pace saves).
constexpr double kRecentShare = 0.35;
// However flat the answers, a mean within this of the settled one has not moved.
constexpr double kSmallestToleranceSeconds = 0.0005;
// An answer this share of the range beyond what the window has seen is a change.
constexpr double kOutsideShare = 0.25;

}  // namespace

void SinkLatencyWindow::take(double latency, double at) {
    if (settled_) {
        const Summary before = summarize(at);
        if (before.count > 0) {
            const double margin = tolerance(before, kOutsideShare);
            if (latency < before.lowest - margin || latency > before.highest + margin) {
                unsettle(at);
            }
        }
    }
    answers_[std::size_t(next_)] = Answer{latency, at};
    next_ = (next_ + 1) % kCapacity;
    count_ = std::min(count_ + 1, kCapacity);

    const Summary now = summarize(at);
    mean_ = now.mean;
    const bool moved = std::abs(now.mean - reference_) > tolerance(now, kToleranceShare) ||
                       (settled_ && now.count >= kRecent &&
                        std::abs(now.recentMean - reference_) > tolerance(now, kRecentShare));
    if (moved) {
        settled_ = false;
        restartSteadiness(now.mean, at);
        return;
    }
    ++answersSinceSteady_;
    if (!settled_ && now.count >= kCapacity && answersSinceSteady_ >= kCapacity &&
        at - steadySince_ >= kSteadySeconds) {
        settled_ = true;
    }
}

void SinkLatencyWindow::unsettle(double at) {
    settled_ = false;
    restartSteadiness(mean_.value_or(0.0), at);
}

void SinkLatencyWindow::clear() {
    *this = SinkLatencyWindow();
}

std::optional<double> SinkLatencyWindow::mean() const {
    return mean_;
}

SinkLatencyWindow::Summary SinkLatencyWindow::summarize(double now) const {
    Summary summary;
    double sum = 0.0;
    double recentSum = 0.0;
    for (int k = 0; k < count_; ++k) {
        const Answer& answer = answers_[std::size_t((next_ - 1 - k + kCapacity) % kCapacity)];
        if (now - answer.at > kOldestSeconds) {
            break;  // older answers lie further back still
        }
        summary.lowest =
            summary.count == 0 ? answer.latency : std::min(summary.lowest, answer.latency);
        summary.highest =
            summary.count == 0 ? answer.latency : std::max(summary.highest, answer.latency);
        sum += answer.latency;
        if (summary.count < kRecent) {
            recentSum += answer.latency;
        }
        ++summary.count;
    }
    if (summary.count > 0) {
        summary.mean = sum / summary.count;
        summary.recentMean = recentSum / std::min(summary.count, kRecent);
    }
    return summary;
}

double SinkLatencyWindow::tolerance(const Summary& summary, double share) {
    return std::max(kSmallestToleranceSeconds, share * (summary.highest - summary.lowest));
}

void SinkLatencyWindow::restartSteadiness(double mean, double at) {
    reference_ = mean;
    steadySince_ = at;
    answersSinceSteady_ = 0;
}

}  // namespace kestio::platform::audio
