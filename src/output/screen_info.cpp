#include "output/screen_info.h"

#include <cmath>
#include <limits>

namespace kestio::output {

namespace {

// The whole part of a size, as text; a size that is no number or does not fit prints as 0.
std::string wholeText(double value) {
    const double whole = std::trunc(value);
    if (!std::isfinite(whole) || std::fabs(whole) > double(std::numeric_limits<long long>::max())) {
        return "0";
    }
    return std::to_string(static_cast<long long>(whole));
}

double finiteOrZero(double value) {
    return std::isfinite(value) && value > 0.0 ? value : 0.0;
}

}  // namespace

std::string ScreenInfo::resolutionLabel() const {
    return wholeText(nativeSize.width) + "\u00D7" + wholeText(nativeSize.height);
}

ScreenInfo ScreenInfo::fromDescriptor(const platform::ScreenDescriptor& screen) {
    ScreenInfo info;
    info.id = screen.id;
    info.name = screen.name;
    info.nativeSize = {double(screen.geometry.width()), double(screen.geometry.height())};
    info.backingScale = std::isfinite(screen.scale) && screen.scale > 0.0 ? screen.scale : 1.0;
    info.physicalSize = {info.nativeSize.width * info.backingScale,
                         info.nativeSize.height * info.backingScale};
    info.refreshRate = finiteOrZero(screen.refreshRate);
    return info;
}

}  // namespace kestio::output
