#include "panels/fader_input.h"

#include <cmath>

#include "panels/audio_level_scale.h"
#include "ui/number_text.h"

namespace kestio::panels {

std::optional<double> faderLevelAtPointer(double y, double height, const ui::ValueRange& range) {
    const double travel = height - 2.0 * kTravelInset;
    if (!(travel > 0.0) || !std::isfinite(y)) {
        return std::nullopt;
    }
    const double t = (y - kTravelInset) / travel;
    double position = 1.0 - t;
    if (t <= 0.0) {
        position = 1.0;
    } else if (t > 1.0) {
        position = 0.0;
    }
    double level = faderLevel(position);
    if (std::abs(level) < 0.5) {
        level = 0.0;
    }
    return range.clamp(level);
}

QString faderEntryText(double level) {
    return ui::formatFixedQ(level, 1);
}

std::optional<double> faderCommittedLevel(const QString& text, const ui::ValueRange& range) {
    const auto parsed = ui::parseNumber(text);
    if (!parsed) {
        return std::nullopt;
    }
    if (std::isnan(*parsed)) {
        return range.lower;
    }
    return range.clamp(*parsed);
}

QString faderRangeText(const ui::ValueRange& range, AppLanguage language) {
    const auto lower = QString::number(static_cast<long long>(std::trunc(range.lower)));
    const auto upper = QString::number(static_cast<long long>(std::trunc(range.upper)));
    if (language == AppLanguage::en) {
        return QStringLiteral("Range: %1 to +%2 dB").arg(lower, upper);
    }
    return QStringLiteral("範囲: %1 〜 +%2 dB").arg(lower, upper);
}

}  // namespace kestio::panels
