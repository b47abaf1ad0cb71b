#include "platform/media/sound_clock.h"

#include <algorithm>
#include <cmath>

#include "platform/audio/audio_player_node.h"

namespace kestio::platform::media {

namespace {
// Schedule positions this close count as the same (they are sums of frame counts over rates).
constexpr double kSameSchedule = 1e-9;
}  // namespace

SoundClock::SoundClock(const RunLoop& loop, std::shared_ptr<const MediaClock> engineClock,
                       std::shared_ptr<const audio::AudioPlayerNode> node)
    : loop_(loop), engineClock_(std::move(engineClock)), node_(std::move(node)) {}

double SoundClock::scheduleAt(const Plan& plan, ClockTime clockTime) {
    const Segment* in = nullptr;
    for (const auto& segment : plan) {
        if (segment.clock > clockTime) {
            break;
        }
        in = &segment;
    }
    return in ? in->schedule + in->rate * (clockTime - in->clock) : 0.0;
}

ClockTime SoundClock::clockOf(const Plan& plan, double scheduleTime, ClockTime clockTime) {
    if (plan.empty()) {
        return clockTime;
    }
    const double planned = scheduleAt(plan, clockTime);
    if (std::abs(scheduleTime - planned) <= kSameSchedule) {
        return clockTime;
    }
    if (scheduleTime < planned) {
        // Behind: the latest time up to now at which the plan was where the sound is.
        for (std::size_t i = plan.size(); i-- > 0;) {
            const Segment& segment = plan[i];
            if (segment.clock > clockTime) {
                continue;
            }
            if (scheduleTime >= segment.schedule - kSameSchedule) {
                const ClockTime end =
                    i + 1 < plan.size() ? std::min(plan[i + 1].clock, clockTime) : clockTime;
                if (segment.rate <= 0.0) {
                    return end;
                }
                return std::min(end,
                                segment.clock + (scheduleTime - segment.schedule) / segment.rate);
            }
        }
        return plan.front().clock;
    }
    // Ahead: the earliest time from now on at which the plan gets where the sound is.
    for (std::size_t i = 0; i < plan.size(); ++i) {
        const Segment& segment = plan[i];
        const ClockTime end = i + 1 < plan.size() ? plan[i + 1].clock : ClockTime::infinity();
        if (end <= clockTime || segment.rate <= 0.0) {
            continue;
        }
        const ClockTime at = segment.clock + (scheduleTime - segment.schedule) / segment.rate;
        if (at < end) {
            return std::max(at, clockTime);
        }
    }
    return clockTime;
}

ClockTime SoundClock::timeAt(HostTime hostTime) const {
    const ClockTime clockTime = engineClock_->timeAt(hostTime);
    const auto planned = plan_.load();
    if (!planned || planned->plan.empty() || !node_) {
        return clockTime;
    }
    const auto heard = node_->playerTime(clockTime);
    if (!heard || *heard >= planned->length - kSameSchedule) {
        return clockTime;
    }
    return clockOf(planned->plan, *heard, clockTime);
}

HostTime SoundClock::hostTimeAt(ClockTime clockTime) const {
    const HostTime host = loop_.now();
    const double lag = engineClock_->timeAt(host) - timeAt(host);
    return engineClock_->hostTimeAt(clockTime + lag);
}

void SoundClock::start(ClockTime clockTime, double rate, double length) {
    plan_.store(std::make_shared<const Planned>(
        Planned{Plan{{clockTime, 0.0, std::max(0.0, rate)}}, length}));
}

void SoundClock::changeRate(double rate, ClockTime clockTime) {
    const auto current = plan_.load();
    if (!current || current->plan.empty()) {
        return;
    }
    Plan plan;
    for (const auto& segment : current->plan) {
        if (segment.clock < clockTime) {
            plan.push_back(segment);
        }
    }
    if (plan.empty()) {
        // Before the start: the start itself takes the new pace.
        plan.push_back({current->plan.front().clock, 0.0, std::max(0.0, rate)});
    } else {
        plan.push_back({clockTime, scheduleAt(plan, clockTime), std::max(0.0, rate)});
    }
    plan_.store(std::make_shared<const Planned>(Planned{std::move(plan), current->length}));
}

void SoundClock::setLength(double length) {
    if (const auto current = plan_.load()) {
        plan_.store(std::make_shared<const Planned>(Planned{current->plan, length}));
    }
}

void SoundClock::stop() {
    plan_.store(nullptr);
}

}  // namespace kestio::platform::media
