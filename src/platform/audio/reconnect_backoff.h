#pragma once

namespace kestio::platform::audio {

// The waits between attempts to reach a sound server that went away: short at first, so that
// a server restarted at once is back within a moment, then doubling up to kLongest, and then
// kLongest for as long as it takes.
class ReconnectBackoff {
  public:
    static constexpr double kFirst = 0.5;
    static constexpr double kLongest = 3.0;

    // The wait before the next attempt; each call lengthens the one after it.
    double next() {
        const double wait = next_;
        next_ = next_ * 2.0 < kLongest ? next_ * 2.0 : kLongest;
        return wait;
    }
    // The server answered: the next loss starts with the short wait again.
    void reset() { next_ = kFirst; }

  private:
    double next_ = kFirst;
};

}  // namespace kestio::platform::audio
