#include "platform/runloop/host_clock.h"

#include <algorithm>
#include <chrono>

namespace kestio::platform {

HostTime SteadyHostClock::now() const {
    using namespace std::chrono;
    return HostTime(duration<double>(steady_clock::now().time_since_epoch()).count());
}

void SteadyHostClock::waitUntil(HostTime time, const std::atomic<bool>& stop) const {
    using namespace std::chrono;
    const steady_clock::time_point deadline(
        duration_cast<steady_clock::duration>(duration<double>(time.seconds())));
    std::unique_lock lock(mutex_);
    wake_.wait_until(lock, deadline, [&] { return stop.load(); });
}

void SteadyHostClock::wake() const {
    std::lock_guard lock(mutex_);
    wake_.notify_all();
}

void ManualHostClock::waitUntil(HostTime time, const std::atomic<bool>& stop) const {
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [&] { return stop.load() || now_.load() >= time.seconds(); });
}

void ManualHostClock::wake() const {
    std::lock_guard lock(mutex_);
    wake_.notify_all();
}

void ManualHostClock::advance(double seconds) {
    std::lock_guard lock(mutex_);
    now_.store(now_.load() + std::max(0.0, seconds));
    wake_.notify_all();
}

void ManualHostClock::advanceTo(HostTime time) {
    std::lock_guard lock(mutex_);
    now_.store(std::max(now_.load(), time.seconds()));
    wake_.notify_all();
}

}  // namespace kestio::platform
