#pragma once

#include <cmath>
#include <compare>
#include <limits>
#include <ostream>

namespace kestio::platform {

// A time on one clock, in seconds. Each clock has a type of its own, so the compiler says which
// clock a value is on:
// - HostTime: the host clock (HostClock, RunLoop::now()), which the run loop, presenters and
//   output devices read;
// - ClockTime: a media clock's time (MediaClock), above all an audio engine's, the time of the
//   sample being heard;
// - ItemTime: a position in an item or clip.
//
// The difference of two times on one clock is plain seconds, and a time plus or minus seconds is
// a time on the same clock. Times compare only with times on their own clock. Nothing converts
// implicitly: a time is made from seconds explicitly, read with seconds(), and taken from one
// clock to another only through a MediaClock.
template <class Clock>
class TimeOn {
  public:
    constexpr TimeOn() = default;
    constexpr explicit TimeOn(double seconds) : seconds_(seconds) {}

    constexpr double seconds() const { return seconds_; }
    bool isFinite() const { return std::isfinite(seconds_); }

    // Later than every finite time (a time never reached).
    static constexpr TimeOn infinity() { return TimeOn(std::numeric_limits<double>::infinity()); }

    constexpr TimeOn& operator+=(double seconds) {
        seconds_ += seconds;
        return *this;
    }
    constexpr TimeOn& operator-=(double seconds) {
        seconds_ -= seconds;
        return *this;
    }
    friend constexpr TimeOn operator+(TimeOn time, double seconds) {
        return TimeOn(time.seconds_ + seconds);
    }
    friend constexpr TimeOn operator+(double seconds, TimeOn time) {
        return TimeOn(seconds + time.seconds_);
    }
    friend constexpr TimeOn operator-(TimeOn time, double seconds) {
        return TimeOn(time.seconds_ - seconds);
    }
    friend constexpr double operator-(TimeOn later, TimeOn earlier) {
        return later.seconds_ - earlier.seconds_;
    }
    friend constexpr bool operator==(const TimeOn&, const TimeOn&) = default;
    friend constexpr auto operator<=>(const TimeOn&, const TimeOn&) = default;

    // "1.25 s (host)", for test messages and logs.
    friend std::ostream& operator<<(std::ostream& out, TimeOn time) {
        return out << time.seconds_ << " s (" << Clock::kName << ')';
    }

  private:
    double seconds_ = 0.0;
};

namespace time_clocks {
struct Host {
    static constexpr const char* kName = "host";
};
struct Media {
    static constexpr const char* kName = "clock";
};
struct Item {
    static constexpr const char* kName = "item";
};
}  // namespace time_clocks

using HostTime = TimeOn<time_clocks::Host>;
using ClockTime = TimeOn<time_clocks::Media>;
using ItemTime = TimeOn<time_clocks::Item>;

}  // namespace kestio::platform
