#pragma once

#include <chrono>
#include <string>

namespace kestio::platform {

// Time of day, for log stamps. Tests substitute a fixed clock.
class WallClock {
public:
    virtual ~WallClock() = default;
    virtual std::chrono::system_clock::time_point now() const = 0;
};

class SystemWallClock final : public WallClock {
public:
    std::chrono::system_clock::time_point now() const override {
        return std::chrono::system_clock::now();
    }
};

class FixedWallClock final : public WallClock {
public:
    explicit FixedWallClock(std::chrono::system_clock::time_point t) : time_(t) {}
    std::chrono::system_clock::time_point now() const override { return time_; }
    void set(std::chrono::system_clock::time_point t) { time_ = t; }

private:
    std::chrono::system_clock::time_point time_;
};

// "HH:mm:ss.SSS" in local time.
std::string formatTimeOfDay(std::chrono::system_clock::time_point t);

}  // namespace kestio::platform
