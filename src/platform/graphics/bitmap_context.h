#pragma once

#include <QImage>
#include <QRectF>

namespace kestio::platform {

// A picture drawn with rectangle fills: W x H pixels, 8 bits per component, premultiplied
// alpha, bytes in the order R, G, B, A (QImage::Format_RGBA8888_Premultiplied), starting
// transparent black. Rectangles use a top-left origin with y downward and may have
// fractional edges: a pixel takes a fill when its centre lies inside the rectangle (left and
// top edges inclusive, right and bottom exclusive), so edges are hard and every pixel has
// exactly one colour. Components in [0, 1] become round(v * 255).
class BitmapContext {
  public:
    static constexpr qint64 kMaxPixels = qint64(1) << 26;

    // A null context when the size is zero, negative or above kMaxPixels.
    BitmapContext(int width, int height);

    bool isNull() const { return image_.isNull(); }
    int width() const { return image_.width(); }
    int height() const { return image_.height(); }

    void fillRect(const QRectF& rect, float red, float green, float blue, float alpha = 1.0f);

    // The picture drawn so far (shares the pixels until the next fill).
    QImage makeImage() const { return image_; }

  private:
    QImage image_;
};

}  // namespace kestio::platform
