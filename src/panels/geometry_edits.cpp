#include "panels/geometry_edits.h"

#include <algorithm>
#include <cmath>

#include "show/output_canvas.h"

namespace kestio::panels {

const char* geometryModeTitle(GeometryMode mode) {
    switch (mode) {
        case GeometryMode::fitToWindow:
            return "Fit to Window";
        case GeometryMode::custom:
            return "Custom";
        case GeometryMode::originalSize:
            return "Original";
    }
    return "";
}

CanvasCentre canvasCentre(OutputResolution resolution) {
    const auto size = canvasSize(resolution);
    return {size.width / 2.0, size.height / 2.0};
}

GeometrySettings withMode(GeometrySettings geometry, GeometryMode mode,
                          OutputResolution resolution) {
    const CanvasCentre centre = canvasCentre(resolution);
    geometry.mode = mode;
    switch (mode) {
        case GeometryMode::fitToWindow:
            geometry.posX = centre.x;
            geometry.posY = centre.y;
            geometry.scaleX = 100;
            geometry.scaleY = 100;
            break;
        case GeometryMode::originalSize:
            geometry.posX = centre.x;
            geometry.posY = centre.y;
            break;
        case GeometryMode::custom:
            break;
    }
    return geometry;
}

namespace {

// Writes `value` into `edited` and lets `partner` follow in proportion.
void scaleWithPartner(double& edited, double& partner, double value, bool ratioLocked) {
    const double old = edited;
    edited = kScaleRange.clamp(value);
    if (ratioLocked && old > 0) {
        const double followed = partner * edited / old;
        // A NaN (from an infinite or NaN entry) would pass the limits unchanged: keep the
        // partner as it was instead.
        if (!std::isnan(followed)) {
            // Kept to a millionth of a percent, far below what a pixel shows: the quotient's
            // rounding noise (50.000000000000014) would otherwise be stored with the show.
            const double rounded = std::round(followed * 1e6) / 1e6;
            partner = kScaleRange.clamp(rounded);
        }
    }
}

}  // namespace

GeometrySettings withScaleX(GeometrySettings geometry, double value, bool ratioLocked) {
    scaleWithPartner(geometry.scaleX, geometry.scaleY, value, ratioLocked);
    return geometry;
}

GeometrySettings withScaleY(GeometrySettings geometry, double value, bool ratioLocked) {
    scaleWithPartner(geometry.scaleY, geometry.scaleX, value, ratioLocked);
    return geometry;
}

QString geometryFieldText(double value, const QLocale& locale) {
    if (!std::isfinite(value)) {
        return QString();
    }
    return locale.toString(value, 'f', 0);
}

std::optional<double> geometryFieldValue(const QString& text, const QLocale& locale) {
    bool ok = false;
    const double value = locale.toDouble(text, &ok);
    if (!ok || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

}  // namespace kestio::panels
