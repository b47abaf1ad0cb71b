#pragma once

#include <QRectF>
#include <QSize>
#include <array>

namespace kestio::app {

// The main window's fixed design canvas: every panel has a fixed size and centre in its points,
// and the canvas is scaled as a whole to fit the window.
inline constexpr double kDesignWidth = 1920.0;
inline constexpr double kDesignHeight = 1080.0;
inline constexpr QSize kMinimumWindowSize{1280, 720};
inline constexpr QSize kDefaultWindowSize{1600, 900};
// The canvas background, a grey of this white level over the window background.
inline constexpr double kCanvasGrey = 0.42;

// The panels of the canvas, in the order they are drawn.
enum class CanvasPanel {
    projectToolbar,
    bankList,
    player,
    clipSettingsPanel,
    audio,
    outputMonitor,
    utilityButtons,
    midiStatus,
    geometry,
    eqColor,
    slotGrid,
};

struct PanelPlacement {
    CanvasPanel panel;
    double width;
    double height;
    double centreX;
    double centreY;

    // The panel's rectangle on the canvas.
    QRectF rect() const { return {centreX - width / 2.0, centreY - height / 2.0, width, height}; }
};

// Every panel of the canvas with its size and centre, in drawing order.
const std::array<PanelPlacement, 11>& canvasPlacements();
const PanelPlacement& placement(CanvasPanel panel);

// The factor that fits the canvas into a window area of width × height, keeping its proportions
// (the canvas is pinned to the top-left corner; the rest is black). Never below 0.0001, so an
// area not yet laid out gives no singular scale.
double canvasScale(double width, double height);

}  // namespace kestio::app
