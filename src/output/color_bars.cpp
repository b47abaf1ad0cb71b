#include "output/color_bars.h"

#include <array>

#include "platform/graphics/bitmap_context.h"

namespace kestio::output {

namespace {

struct Colour {
    float red;
    float green;
    float blue;
};

constexpr Colour kWhite75{0.75f, 0.75f, 0.75f};
constexpr Colour kYellow{0.75f, 0.75f, 0.0f};
constexpr Colour kCyan{0.0f, 0.75f, 0.75f};
constexpr Colour kGreen{0.0f, 0.75f, 0.0f};
constexpr Colour kMagenta{0.75f, 0.0f, 0.75f};
constexpr Colour kRed{0.75f, 0.0f, 0.0f};
constexpr Colour kBlue{0.0f, 0.0f, 0.75f};
constexpr Colour kBlack{0.0f, 0.0f, 0.0f};
constexpr Colour kMinusI{0.0f, 0.07f, 0.28f};
constexpr Colour kWhite100{1.0f, 1.0f, 1.0f};
constexpr Colour kPlusQ{0.21f, 0.0f, 0.29f};
constexpr Colour kGrey4{0.04f, 0.04f, 0.04f};

constexpr std::array kUpperBars{kWhite75, kYellow, kCyan, kGreen, kMagenta, kRed, kBlue};
constexpr std::array kStrip{kBlue, kBlack, kMagenta, kBlack, kCyan, kBlack, kWhite75};

constexpr double kUpperHeight = 0.667;
constexpr double kStripHeight = 0.075;

// The lower band's pieces, by width in bars; the last one runs to the right edge.
struct Piece {
    double bars;
    Colour colour;
};
constexpr std::array kLowerPieces{
    Piece{1.25, kMinusI},      Piece{1.25, kWhite100},   Piece{1.25, kPlusQ},
    Piece{0.25, kBlack},       Piece{5.0 / 7.0, kGrey4}, Piece{5.0 / 7.0, kBlack},
    Piece{11.0 / 7.0, kGrey4},
};

void fill(platform::BitmapContext& context, double left, double top, double right, double bottom,
          const Colour& colour) {
    context.fillRect(QRectF(QPointF(left, top), QPointF(right, bottom)), colour.red, colour.green,
                     colour.blue);
}

}  // namespace

QImage generateSmpteColorBars(int width, int height) {
    platform::BitmapContext context(width, height);
    if (context.isNull()) {
        return {};
    }
    const double bar = width / 7.0;
    const double upperBottom = kUpperHeight * height;
    const double stripBottom = upperBottom + kStripHeight * height;

    for (std::size_t i = 0; i < kUpperBars.size(); ++i) {
        fill(context, double(i) * bar, 0.0, double(i + 1) * bar, upperBottom, kUpperBars[i]);
        fill(context, double(i) * bar, upperBottom, double(i + 1) * bar, stripBottom, kStrip[i]);
    }

    double left = 0.0;
    for (std::size_t i = 0; i < kLowerPieces.size(); ++i) {
        const bool last = i + 1 == kLowerPieces.size();
        const double right = last ? double(width) : left + kLowerPieces[i].bars * bar;
        fill(context, left, stripBottom, right, double(height), kLowerPieces[i].colour);
        left = right;
    }
    return context.makeImage();
}

}  // namespace kestio::output
