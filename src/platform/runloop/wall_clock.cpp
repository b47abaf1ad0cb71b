#include "platform/runloop/wall_clock.h"

#include <cstdio>
#include <ctime>

namespace kestio::platform {

std::string formatTimeOfDay(std::chrono::system_clock::time_point t) {
    using namespace std::chrono;
    const auto sinceEpoch = t.time_since_epoch();
    auto secs = duration_cast<seconds>(sinceEpoch);
    auto ms = duration_cast<milliseconds>(sinceEpoch - secs).count();
    if (ms < 0) {
        ms += 1000;
        secs -= seconds(1);
    }
    const std::time_t tt = static_cast<std::time_t>(secs.count());
    std::tm local{};
    localtime_r(&tt, &local);
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min,
                  local.tm_sec, static_cast<int>(ms));
    return text;
}

}  // namespace kestio::platform
